// SPDX-License-Identifier: MIT
#include "Metrics.h"

#include "ChipNames.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace liud {

namespace {

void family(std::string& out, const char* name, const char* type, const char* help) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void sample(std::string& out, const char* name, const std::string& labels, double value) {
    char number[32];
    std::snprintf(number, sizeof number, "%.15g", value);
    out += std::string(name) + labels + " " + number + "\n";
}

// A label value with its backslashes, quotes and line feeds escaped.
std::string labelValue(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string labels(unsigned port, liuproto::Indication indication) {
    return "{port=\"" + std::to_string(port) + "\",indication=\"" +
           liuproto::indicationName(indication) + "\"}";
}

} // namespace

bool writeMetrics(const std::string& path, const MetricsState& state, std::string& error) {
    std::string out;
    out.reserve(8192);
    family(out, "liud_up", "gauge",
           "1 while liud owns the chip and polls its alarms, 0 once it stopped.");
    sample(out, "liud_up", "", state.up ? 1 : 0);
    family(out, "liud_chip_up", "gauge",
           "1 while the chip answers liud's polls, 0 while every transfer of a poll fails.");
    sample(out, "liud_chip_up", "", state.chipUp ? 1 : 0);
    family(out, "liud_alarms_known", "gauge",
           "1 while the port's alarms are those of its last poll, 0 while a transfer failed "
           "and they are the last known.");
    for (unsigned port = 0; port < state.ports; ++port) {
        sample(out, "liud_alarms_known", "{port=\"" + std::to_string(port) + "\"}",
               (*state.alarmsKnown)[port] ? 1 : 0);
    }
    family(out, "liud_alarm_active", "gauge",
           "1 while the indication is active on the port at the last poll, else 0.");
    for (unsigned port = 0; port < state.ports; ++port) {
        for (const liuproto::Indication indication : liuproto::kIndications) {
            sample(out, "liud_alarm_active", labels(port, indication),
                   liucmd::portAlarms(*state.alarms, port).active(indication) ? 1 : 0);
        }
    }
    family(out, "liud_alarm_changes_total", "counter",
           "Changes of the indication on the port (active or cleared) since liud started.");
    for (unsigned port = 0; port < state.ports; ++port) {
        for (const liuproto::Indication indication : liuproto::kIndications) {
            sample(
                out, "liud_alarm_changes_total", labels(port, indication),
                static_cast<double>((*state.changes)[port][static_cast<std::size_t>(indication)]));
        }
    }
    family(out, "liud_last_poll_timestamp_seconds", "gauge",
           "When liud last read the alarms (poll or scan), seconds since the epoch: a file "
           "whose time stops moving is a liud that stopped.");
    sample(out, "liud_last_poll_timestamp_seconds", "", state.lastPollTime);
    if (state.lastReloadTime > 0) {
        family(out, "liud_last_reload_timestamp_seconds", "gauge",
               "When liud last read its configuration again (SIGHUP), seconds since the epoch.");
        sample(out, "liud_last_reload_timestamp_seconds", "", state.lastReloadTime);
        family(out, "liud_last_reload_successful", "gauge",
               "1 when the last reload was applied, 0 when its file was refused.");
        sample(out, "liud_last_reload_successful", "", state.lastReloadOk ? 1 : 0);
    }
    family(out, "liud_port_info", "gauge",
           "Each configured port's line type, framing and circuit identifier (always 1).");
    for (unsigned port = 0; port < state.config->ports; ++port) {
        const PortConfig& settings = state.config->portConfigs[port];
        sample(out, "liud_port_info",
               "{port=\"" + std::to_string(port) + "\",line_type=\"" +
                   liucmd::lineTypeName(settings.value(SettingId::LineType)) + "\",framing=\"" +
                   labelValue(settings.framing.value_or("")) + "\",circuit=\"" +
                   labelValue(settings.circuit) + "\"}",
               1);
    }
    family(out, "liud_polls_total", "counter", "Alarm polls of the chip since liud started.");
    sample(out, "liud_polls_total", "", static_cast<double>(state.polls));
    family(out, "liud_failed_transfers_total", "counter",
           "SPI transfers to the chip that failed since liud started.");
    sample(out, "liud_failed_transfers_total", "", static_cast<double>(state.failedTransfers));
    family(out, "liud_drifts_repaired_total", "counter",
           "Ports whose settings the audit found changed and applied again.");
    sample(out, "liud_drifts_repaired_total", "", static_cast<double>(state.driftsRepaired));
    family(out, "liud_poll_duration_seconds", "gauge", "Duration of the last alarm poll.");
    sample(out, "liud_poll_duration_seconds", "", state.pollSeconds);

    const std::string temporary = path + ".tmp-" + std::to_string(getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        error = temporary + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    const int savedErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        error = temporary + ": " + std::strerror(written ? errno : savedErrno);
        unlink(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace liud
