// SPDX-License-Identifier: MIT
// The library's start-up and state: init, inout, connected, broadcast, state.
#include "HandlerSupport.h"

namespace liucmd::handlers {

namespace {

void init(Context& context, const Args& args, Json& result) {
    const int inout = static_cast<int>(args.number(1));
    const long ports = args.number(2);
    result["inout"] = inout;
    result["ports"] = ports;
    const int code = context.init(args, inout, static_cast<int>(ports));
    result["result"] = code;
    if (code != 0) {
        throw libraryFailure("init", code);
    }
}

std::string initText(const Json& result) {
    if (!result.value("ok", false)) {
        return {};
    }
    const int inout = result.at("inout").get<int>();
    return "LIU 82V5088 up: " + std::to_string(result.at("ports").get<int>()) + " ports, " +
           inoutName(inout) + " line interface (" + std::to_string(inout) + ")\n";
}

void inout(Context& context, const Args& args, Json& result) {
    context.setInOut(args, static_cast<int>(args.number(1)));
    result["inout"] = liuDrv_inoutType;
}

std::string inoutText(const Json& result) {
    const int inout = result.at("inout").get<int>();
    return "input/output type: " + inoutName(inout) + " (" + std::to_string(inout) +
           "), used by the next line type setting\n";
}

void connected(Context&, const Args&, Json& result) {
    const int code = liuDrv_isLiuConnected();
    result["result"] = code;
    result["connected"] = code == 0;
    if (code != 0) {
        throw libraryFailure("connected", code);
    }
}

std::string connectedText(const Json& result) {
    return result.value("ok", false) ? "the LIU answers (global register 0x04 read)\n" : "";
}

void broadcast(Context&, const Args& args, Json& result) {
    const int mode = static_cast<int>(args.choice(1));
    liuDrv_broadcastMode(mode);
    result["mode"] = mode;
}

std::string broadcastText(const Json& result) {
    return std::string("broadcast mode ") + (result.at("mode").get<int>() != 0 ? "on" : "off") +
           " (this LIU has none: nothing changes on the chip)\n";
}

void state(Context&, const Args&, Json& result) {
    const std::pair<const char*, long> globals[] = {
        {"liuDrv_inited", liuDrv_inited},
        {"liuDrv_maxPorts", liuDrv_maxPorts},
        {"liuDrv_maxLius", liuDrv_maxLius},
        {"liuDrv_maxPortsLiu", liuDrv_maxPortsLiu},
        {"liuDrv_liuTyp", liuDrv_liuTyp},
        {"liuDrv_inoutType", liuDrv_inoutType},
        {"liuDrv_lineType", liuDrv_lineType},
        {"liuTsId", liuTsId},
        {"firstCall", firstCall},
        {"liuDrv_regOffs", liuDrv_regOffs},
    };
    for (const auto& [name, value] : globals) {
        result[name] = value;
    }
}

std::string stateText(const Json& result) {
    Table table({"NAME", "VALUE"});
    for (const auto& [name, value] : result.items()) {
        if (name != "ok" && name != "command") {
            table.add({name, std::to_string(value.get<long>())});
        }
    }
    return table.render();
}

const Param kInout{ArgKind::Inout, "INOUT", "input/output type"};

} // namespace

const std::vector<CommandEntry>& chipCommands() {
    static const std::vector<CommandEntry> kCommands = {
        {.name = "init",
         .summary = "bring the LIU up: reset it and give ports 0..PORTS-1 their defaults",
         .details =
             "INOUT is the board's line interface: asym (1, E1 only), sym (2, E1, T1 and JT1),\n"
             "none (255) or any number 0..255.  PORTS is 1..16 (the LIU has 8).\n"
             "The library initialises once per process and resets the chip when it does:\n"
             "every port goes down.  Only liuctl --standalone runs it; liud refuses it (it\n"
             "brought the chip up when it started).",
         .args = {kInout, {ArgKind::Integer, "PORTS", "port count", {}, 1, LIUDRV_ALARM_PORTS}},
         .flags = kAtChip | kConfigures,
         .handler = init,
         .text = initText},
        {.name = "inout",
         .summary = "set the input/output type used by the next line type configuration",
         .details =
             "INOUT as for init.  No register access.  liud takes it from its configuration.",
         .args = {kInout},
         .flags = kAtChip | kConfigures,
         .handler = inout,
         .text = inoutText},
        {.name = "connected",
         .summary = "check that the LIU answers (liuDrv_isLiuConnected)",
         .details = "",
         .args = {},
         .flags = kAtChip | kNeedsInit,
         .handler = connected,
         .text = connectedText},
        {.name = "broadcast",
         .summary = "switch the library's broadcast mode (changes nothing on this LIU)",
         .details = "",
         .args = {{ArgKind::Choice, "", "mode", {"off", "on"}}},
         .flags = kAtChip | kConfigures,
         .handler = broadcast,
         .text = broadcastText},
        {.name = "state",
         .summary = "print the library's exported state",
         .details = "",
         .args = {},
         .flags = kAtChip,
         .handler = state,
         .text = stateText},
    };
    return kCommands;
}

} // namespace liucmd::handlers
