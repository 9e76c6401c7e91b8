// SPDX-License-Identifier: MIT
#include "Configurator.h"

#include "Words.h"

#include "LiuDrv.h"

#include <cstdio>

namespace liud {

namespace {

using liucmd::Setting;

constexpr SettingId kApplyOrder[] = {
    SettingId::LineType, SettingId::BuildOut,   SettingId::LineLength, SettingId::LineCode,
    SettingId::Haul,     SettingId::RemoteLoop, SettingId::AnalogLoop, SettingId::DigitalLoop,
    SettingId::TxPower,  SettingId::RxPower};

// The settings the library can read back on this chip.
constexpr SettingId kReadable[] = {
    SettingId::LineCode,    SettingId::Haul,    SettingId::RemoteLoop, SettingId::AnalogLoop,
    SettingId::DigitalLoop, SettingId::TxPower, SettingId::RxPower};

std::size_t bit(SettingId id) {
    return static_cast<std::size_t>(id);
}

std::string shown(SettingId id, int value) {
    return liucmd::shownValue(liucmd::setting(id), value);
}

std::string portName(unsigned port) {
    return "port " + std::to_string(port);
}

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const auto& part : parts) {
        text += (text.empty() ? "" : "; ") + part;
    }
    return text;
}

// "port 3" or "ports 2, 5"
std::string portList(const std::vector<unsigned>& ports) {
    std::string text = ports.size() == 1 ? "port " : "ports ";
    for (std::size_t i = 0; i < ports.size(); ++i) {
        text += (i > 0 ? ", " : "") + std::to_string(ports[i]);
    }
    return text;
}

// "linecode 1 -> 2, remoteloop on -> off (a control client's setting, back
// to the file's)": the settings of mask from before to after.
std::string changes(const PortConfig& before, const PortConfig& after, const SettingMask& mask,
                    bool inoutChanged) {
    std::string text;
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        const auto id = static_cast<SettingId>(i);
        if (!mask[i]) {
            continue;
        }
        const liucmd::Setting& setting = liucmd::setting(id);
        const auto word = [&](const PortConfig& port) {
            return port.value(id) == 0 && setting.t1LinesOnly
                       ? std::string("none")
                       : liucmd::lowerCase(shown(id, port.value(id)));
        };
        text += (text.empty() ? "" : ", ") + std::string(setting.name) + " " + word(before) +
                " -> " + word(after);
        if (id == SettingId::LineType && before.value(id) == after.value(id) && inoutChanged) {
            text += " (applied again for the new input/output type)";
        } else if (before.has(id) && before.fileLine(id) == 0) {
            text += " (a control client's setting, back to the file's)";
        }
    }
    return text;
}

SettingMask explicitSettings(const PortConfig& port) {
    SettingMask mask;
    for (std::size_t i = 0; i < kSettingCount; ++i) {
        mask[i] = port.explicitly[i].has_value();
    }
    return mask;
}

} // namespace

SettingMask Configurator::expand(SettingMask mask, const PortConfig& port) {
    if (mask[bit(SettingId::BuildOut)] || mask[bit(SettingId::LineLength)]) {
        mask.set(bit(SettingId::LineType));
    }
    if (mask[bit(SettingId::LineType)]) {
        mask[bit(SettingId::BuildOut)] = port.has(SettingId::BuildOut);
        mask[bit(SettingId::LineLength)] = port.has(SettingId::LineLength);
        if (port.has(SettingId::LineCode) ||
            port.value(SettingId::LineCode) != LIUDRV_LINE_CODE_1) {
            mask.set(bit(SettingId::LineCode));
        }
    }
    return mask;
}

SettingMask Configurator::everything() {
    return SettingMask().set();
}

std::vector<std::string> Configurator::plan(const Config& config) {
    char audit[64] = "no audit";
    if (config.auditInterval.count() > 0) {
        std::snprintf(audit, sizeof audit, "an audit every %g s",
                      std::chrono::duration<double>(config.auditInterval).count());
    }
    char scan[48] = "";
    if (config.scanInterval.count() > 0) {
        std::snprintf(scan, sizeof scan, "scanned every %lld ms, ",
                      static_cast<long long>(config.scanInterval.count()));
    }
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s: good: %s interface, %u ports, alarms %spolled every %lld ms, %s; control "
                  "socket %s",
                  config.path.c_str(), liucmd::inoutName(config.inout).c_str(), config.ports, scan,
                  static_cast<long long>(config.pollInterval.count()), audit,
                  config.socketPath.c_str());
    std::vector<std::string> lines = {line};
    for (unsigned port = 0; port < config.ports; ++port) {
        const PortConfig& settings = config.portConfigs[port];
        const SettingMask mask = expand(explicitSettings(settings), settings);
        std::string text;
        for (const SettingId id : kApplyOrder) {
            if (mask[bit(id)] &&
                ((id != SettingId::BuildOut && id != SettingId::LineLength) || settings.has(id))) {
                text += (text.empty() ? "" : ", ") + std::string(liucmd::setting(id).name) + " " +
                        liucmd::lowerCase(shown(id, settings.value(id)));
            }
        }
        if (settings.framing) {
            text += "; framing " + *settings.framing;
        }
        if (!settings.circuit.empty()) {
            text += "; circuit \"" + settings.circuit + "\"";
        }
        lines.push_back(portName(port) + ": " + (text.empty() ? "start-up defaults" : text));
    }
    for (std::size_t output = 0; output < 2; ++output) {
        if (config.refClocks[output]) {
            lines.push_back(std::string("reference clock ") + (output == 0 ? "A" : "B") +
                            ": port " + std::to_string(*config.refClocks[output]));
        }
    }
    return lines;
}

int Configurator::apply(unsigned port, const PortConfig& config, SettingMask mask) const {
    int first = 0;
    const auto channel = static_cast<std::uint16_t>(port);
    for (const SettingId id : kApplyOrder) {
        if (!mask[bit(id)]) {
            continue;
        }
        if ((id == SettingId::BuildOut || id == SettingId::LineLength) && !config.has(id)) {
            continue; // the line type just applied took the port back to its plain template
        }
        const Setting& setting = liucmd::setting(id);
        const int value = config.value(id);
        const int result = setting.set(channel, value);
        if (result != 0) {
            log_.write(Priority::Error, "port " + std::to_string(port) + ": " + setting.name + " " +
                                            liucmd::lowerCase(shown(id, value)) +
                                            " failed: library result " + std::to_string(result));
            first = first != 0 ? first : result;
        }
    }
    return first;
}

int Configurator::applyRefClocks(const Config& config) const {
    int first = 0;
    for (std::size_t output = 0; output < 2; ++output) {
        if (!config.refClocks[output]) {
            continue;
        }
        const auto port = static_cast<std::uint16_t>(*config.refClocks[output]);
        const int result = output == 0 ? liuDrv_setRefAClock(port) : liuDrv_setRefBClock(port);
        if (result != 0) {
            log_.write(Priority::Error, std::string("refclk_") + (output == 0 ? "a" : "b") +
                                            " port " + std::to_string(port) +
                                            " failed: library result " + std::to_string(result));
            first = first != 0 ? first : result;
        }
    }
    return first;
}

void Configurator::applyAll(const Config& config) const {
    for (unsigned port = 0; port < config.ports; ++port) {
        const PortConfig& settings = config.portConfigs[port];
        apply(port, settings, expand(explicitSettings(settings), settings));
    }
    applyRefClocks(config);
}

PortReadBack Configurator::readBack(unsigned port) {
    PortReadBack chip;
    chip.values.fill(-1);
    const auto channel = static_cast<std::uint16_t>(port);
    std::uint8_t mode = 0;
    chip.complete =
        liuDrv_read(liucmd::kModeRegister, channel, &mode) == 0 &&
        liuDrv_read(liucmd::kTerminationRegister, channel, &chip.line.termination) == 0 &&
        liuDrv_read(liucmd::kTemplateRegister, channel, &chip.line.templateCode) == 0;
    chip.line.modeBit = mode & liucmd::kModeT1Bit;
    for (const SettingId id : kReadable) {
        int value = -1;
        const int result = liucmd::setting(id).get(channel, &value);
        chip.results[bit(id)] = result;
        chip.values[bit(id)] = result == 0 ? value : -1;
        chip.complete = chip.complete && result != 1;
    }
    return chip;
}

std::vector<std::string> Configurator::differences(const PortConfig& config, int inout,
                                                   const PortReadBack& chip) {
    std::vector<std::string> found;
    const int lineType = config.value(SettingId::LineType);
    liucmd::LineRegisters expected{};
    if (liucmd::expectedLineRegisters(lineType, inout, expected) && !(expected == chip.line)) {
        found.push_back(
            "line type " + shown(SettingId::LineType, lineType) + " (0x20 bit 0 " +
            std::to_string(expected.modeBit) + ", 0x32 " + liucmd::hexByte(expected.termination) +
            ", 0x23 " + liucmd::hexByte(expected.templateCode) + "), the chip has " +
            std::to_string(chip.line.modeBit) + ", " + liucmd::hexByte(chip.line.termination) +
            ", " + liucmd::hexByte(chip.line.templateCode));
    }
    for (const SettingId id : kReadable) {
        const int want = config.value(id);
        const int have = chip.values[bit(id)];
        if (chip.results[bit(id)] == -1) {
            found.push_back(std::string(liucmd::setting(id).label) + " " + shown(id, want) +
                            ", the chip holds no " + liucmd::setting(id).label +
                            " the library knows");
        } else if (have >= 0 && have != want) {
            found.push_back(std::string(liucmd::setting(id).label) + " " + shown(id, want) +
                            ", the chip has " + shown(id, have));
        }
    }
    return found;
}

bool Configurator::refClockDifferences(const Config& config,
                                       std::vector<std::string>& differences) {
    if (!config.refClocks[0] && !config.refClocks[1]) {
        return true;
    }
    std::uint8_t value = 0;
    if (liuDrv_read(liucmd::kRefClockRegister, LIUDRV_CHANNEL_GLOBAL, &value) != 0) {
        return false;
    }
    const liucmd::RefClockPorts chip = liucmd::refClockPorts(value);
    const unsigned ports[2] = {chip.a, chip.b};
    for (std::size_t output = 0; output < 2; ++output) {
        if (config.refClocks[output] && *config.refClocks[output] != ports[output]) {
            differences.push_back(std::string("reference clock ") + (output == 0 ? "A" : "B") +
                                  " port " + std::to_string(*config.refClocks[output]) +
                                  ", the chip has " + std::to_string(ports[output]));
        }
    }
    return true;
}

void Configurator::verify(const char* when, const Config& config,
                          const std::vector<unsigned>& ports) const {
    for (const unsigned port : ports) {
        const PortReadBack chip = readBack(port);
        if (!chip.complete) {
            log_.write(Priority::Warning, std::string(when) + ": " + portName(port) +
                                              ": cannot read its settings back (a transfer "
                                              "failed)");
        }
        const auto found = differences(config.portConfigs[port], config.inout, chip);
        if (!found.empty()) {
            log_.write(Priority::Warning, std::string(when) + ": " + portName(port) +
                                              " is not as configured: " + joined(found));
        }
    }
    std::vector<std::string> found;
    if (!refClockDifferences(config, found) || !found.empty()) {
        log_.write(Priority::Warning,
                   std::string(when) + ": reference clocks: " +
                       (found.empty() ? "cannot read register 0x07" : joined(found)));
    }
}

unsigned Configurator::audit(const Config& config) const {
    unsigned repaired = 0;
    std::vector<unsigned> unreadable;
    for (unsigned port = 0; port < config.ports; ++port) {
        const PortConfig& settings = config.portConfigs[port];
        const PortReadBack chip = readBack(port);
        if (!chip.complete) {
            unreadable.push_back(port); // what was not read is not known to differ
            continue;
        }
        const auto found = differences(settings, config.inout, chip);
        if (found.empty()) {
            continue;
        }
        log_.write(Priority::Warning, "audit: " + portName(port) + " drifted: " + joined(found) +
                                          "; applying its configuration again");
        apply(port, settings, expand(everything(), settings));
        const auto left = differences(settings, config.inout, readBack(port));
        if (left.empty()) {
            ++repaired;
            log_.write(Priority::Notice, "audit: " + portName(port) + " repaired");
        } else {
            log_.write(Priority::Error,
                       "audit: " + portName(port) + " still not as configured: " + joined(left));
        }
    }
    if (!unreadable.empty()) {
        log_.write(Priority::Warning, "audit: " + portList(unreadable) +
                                          ": cannot read the settings back (a transfer failed): "
                                          "left as they are");
    }
    std::vector<std::string> found;
    if (refClockDifferences(config, found) && !found.empty()) {
        log_.write(Priority::Warning,
                   "audit: " + joined(found) + "; applying the reference clocks again");
        applyRefClocks(config);
    }
    return repaired;
}

std::vector<unsigned> Configurator::reload(const Config& running, const Config& next) const {
    const bool inoutChanged = next.inout != running.inout;
    if (inoutChanged) {
        liuDrv_setInOutType(next.inout);
    }
    std::vector<unsigned> changed;
    std::vector<unsigned> unreadable;
    for (unsigned port = 0; port < next.ports; ++port) {
        const PortConfig& before = running.portConfigs[port];
        const PortConfig& after = next.portConfigs[port];
        SettingMask mask;
        for (std::size_t i = 0; i < kSettingCount; ++i) {
            mask[i] =
                before.value(static_cast<SettingId>(i)) != after.value(static_cast<SettingId>(i));
        }
        mask[bit(SettingId::LineType)] = mask[bit(SettingId::LineType)] || inoutChanged;
        if (mask.none()) {
            continue;
        }
        if (!readBack(port).complete) {
            unreadable.push_back(port); // never write a port whose state is not known
            continue;
        }
        log_.write(Priority::Notice,
                   "reload: " + portName(port) + ": " + changes(before, after, mask, inoutChanged));
        const SettingMask expanded = expand(mask, after);
        if (expanded[bit(SettingId::LineCode)] && !mask[bit(SettingId::LineCode)]) {
            log_.write(Priority::Info,
                       portName(port) + ": line code " +
                           std::to_string(after.value(SettingId::LineCode)) +
                           " applied again after its line type (a line type configuration "
                           "clears it)");
        }
        apply(port, after, expanded);
        changed.push_back(port);
    }
    if (!unreadable.empty()) {
        log_.write(Priority::Warning,
                   "reload: " + portList(unreadable) +
                       ": cannot read the settings back (a transfer failed): not changed; the "
                       "audit applies the file's settings once they can be read");
    }
    for (std::size_t output = 0; output < 2; ++output) {
        const auto& from = running.refClocks[output];
        const auto& to = next.refClocks[output];
        if (from != to) {
            const auto port = [](const std::optional<unsigned>& which) {
                return which ? "port " + std::to_string(*which) : std::string("none");
            };
            log_.write(Priority::Notice,
                       std::string("reload: reference clock ") + (output == 0 ? "A" : "B") + ": " +
                           port(from) + " -> " + port(to) +
                           (from && running.refClockFileLines[output] == 0
                                ? " (a control client's setting, back to the file's)"
                                : ""));
        }
    }
    if (next.refClocks != running.refClocks) {
        applyRefClocks(next);
    }
    return changed;
}

} // namespace liud
