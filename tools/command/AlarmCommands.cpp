// SPDX-License-Identifier: MIT
// The alarms: poll, watch.
#include "HandlerSupport.h"

namespace liucmd::handlers {

namespace {

// An alarm state for people: "-" not seen active since start-up, "active",
// "cleared" (the table's "inactive": it was active).
std::string stateCell(liuproto::AlarmState state) {
    switch (state) {
    case liuproto::AlarmState::Initial:
        return "-";
    case liuproto::AlarmState::Active:
        return "active";
    case liuproto::AlarmState::Inactive:
        break;
    }
    return "cleared";
}

void poll(Context& context, const Args& args, Json& result) {
    const AlarmSnapshot& snapshot = context.poll(args);
    result["time"] = snapshot.time;
    Json rows = Json::array();
    for (unsigned port = 0; port < snapshot.ports; ++port) {
        Json row = {{"port", port}};
        row.update(Json(portAlarms(snapshot.table, port)));
        rows.push_back(std::move(row));
    }
    result["ports"] = std::move(rows);
}

std::string pollText(const Json& result) {
    std::vector<std::string> header = {"PORT"};
    for (const Indication indication : liuproto::kIndications) {
        header.emplace_back(liuproto::indicationName(indication));
    }
    Table table(header);
    for (const auto& row : result.at("ports")) {
        const auto alarms = row.get<liuproto::PortAlarms>();
        std::vector<std::string> cells = {std::to_string(row.at("port").get<int>())};
        for (const Indication indication : liuproto::kIndications) {
            cells.push_back(stateCell(alarms[indication]));
        }
        table.add(cells);
    }
    return "alarm states at " + result.at("time").get<std::string>() +
           " (- not seen active since start-up):\n" + table.render();
}

void watch(Context& context, const Args& args, Json& result) {
    const double seconds = args.has(1) ? args.seconds(1) : 0;
    result["seconds"] = seconds;
    context.watch(args, seconds, result);
}

std::string watchText(const Json& result) {
    const auto changes = result.at("changes").get<std::vector<liuproto::WatchChange>>();
    if (changes.empty()) {
        return "watch: no alarm changed\n";
    }
    Table summary({"PORT", "INDICATION", "WENT ACTIVE", "NOW", "SINCE"});
    for (const auto& change : changes) {
        summary.add({std::to_string(change.port), liuproto::indicationName(change.indication),
                     std::to_string(change.wentActive), liuproto::changeName(change.active),
                     change.since});
    }
    return "watch: alarms that changed:\n" + summary.render();
}

} // namespace

const std::vector<CommandEntry>& alarmCommands() {
    static const std::vector<CommandEntry> kCommands = {
        {.name = "poll",
         .summary = "print the alarm state table",
         .details =
             "Standalone liuctl polls the alarms once (liuDrv_alarmHandler); liud answers\n"
             "with its own latest poll and never polls for a client.  States: - not seen\n"
             "active since start-up, active, cleared (was active, now clear; \"inactive\" in\n"
             "JSON).  show prints the table of the last poll.",
         .args = {},
         .flags = kAtChip | kNeedsInit,
         .handler = poll,
         .text = pollText},
        {.name = "watch",
         .summary = "print each alarm change as it happens",
         .details = "For SECONDS (fractions allowed), or until Ctrl-C without.  Each change: UTC\n"
                    "time, port, indication, active or cleared.  At the end, for every port and\n"
                    "indication that changed: how often it went active, its state now and since\n"
                    "when.  Standalone liuctl polls every 0.1 s; through liud the changes are\n"
                    "liud's own, as it logs them, and so are the chip's silences.",
         .args = {{ArgKind::Seconds, "SECONDS", "time", {}, 0.01, 31536000, true}},
         .flags = kAtChip | kNeedsInit | kStreams | kWaits,
         .handler = watch,
         .text = watchText},
    };
    return kCommands;
}

} // namespace liucmd::handlers
