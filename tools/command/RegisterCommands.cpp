// SPDX-License-Identifier: MIT
// The chip's registers and sample memory as they are: read, write, dump, has.
#include "HandlerSupport.h"

namespace liucmd::handlers {

namespace {

void read(Context&, const Args& args, Json& result) {
    const auto reg = static_cast<std::uint8_t>(args.number(1));
    const auto channel = static_cast<std::uint16_t>(args.number(2));
    std::uint8_t value = 0;
    const int code = liuDrv_read(reg, channel, &value);
    result["register"] = reg;
    result["channel"] = channelJson(channel);
    result["result"] = code;
    result["value"] = code == 0 ? Json(value) : Json();
    if (code != 0) {
        throw libraryFailure("read", code);
    }
}

std::string readText(const Json& result) {
    if (!result.value("ok", false)) {
        return {};
    }
    return channelText(result.at("channel")) + " register " +
           hexByte(result.at("register").get<unsigned>()) + ": " +
           hexByte(result.at("value").get<unsigned>()) + "\n";
}

void write(Context& context, const Args& args, Json& result) {
    const auto reg = static_cast<std::uint8_t>(args.number(1));
    const auto channel = static_cast<std::uint16_t>(args.number(2));
    const auto value = static_cast<std::uint8_t>(args.number(3));
    result["register"] = reg;
    result["channel"] = channelJson(channel);
    result["value"] = value;
    const int code = context.writeRegister(args, reg, channel, value);
    result["result"] = code;
    if (code != 0) {
        throw libraryFailure("write", code);
    }
}

std::string writeText(const Json& result) {
    if (!result.value("ok", false)) {
        return {};
    }
    return channelText(result.at("channel")) + " register " +
           hexByte(result.at("register").get<unsigned>()) +
           " := " + hexByte(result.at("value").get<unsigned>()) + "\n";
}

void dump(Context& context, const Args& args, Json& result) {
    const std::uint16_t port = args.port(1);
    std::string printout;
    const int code = context.dumpPulseShape(args, port, printout);
    result["port"] = port;
    result["result"] = code;
    result["printout"] = printout;
    if (code != 0) {
        throw libraryFailure("dump: port " + std::to_string(port), code);
    }
}

std::string dumpText(const Json& result) {
    return result.value("printout", "");
}

void has(Context&, const Args& args, Json& result) {
    const bool los = args.choice(1) == 0;
    result["indication"] = los ? "LOS" : "PRBS";
    result["ports"] = Json::array();
    for (const std::uint16_t port : args.ports(2)) {
        const int bits = los ? liuDrv_hasLos(port) : liuDrv_hasPrbs(port);
        result["ports"].push_back({{"port", port}, {"status", bits}});
    }
}

std::string hasText(const Json& result) {
    const std::string name = result.at("indication");
    Table table({"PORT", name});
    for (const auto& port : result.at("ports")) {
        const int bits = port.at("status").get<int>();
        table.add(
            {std::to_string(port.at("port").get<int>()),
             bits != 0 ? "present (" + hexByte(static_cast<unsigned>(bits)) + ")" : "absent"});
    }
    return name + " in alarm status register " + hexByte(kAlarmStatusRegister) + ":\n" +
           table.render();
}

const Param kRegister{ArgKind::Byte, "REG", "register"};
const Param kChannel{ArgKind::Channel, "CH|global", "channel"};

} // namespace

const std::vector<CommandEntry>& registerCommands() {
    static const std::vector<CommandEntry> kCommands = {
        {.name = "read",
         .summary = "read one register of a channel (0..15) or a global register",
         .details = "REG is 0..255 or 0x00..0xff.",
         .args = {kRegister, kChannel},
         .flags = kAtChip | kNeedsInit,
         .handler = read,
         .text = readText},
        {.name = "write",
         .summary = "write one register",
         .details =
             "No read-back: read it if you want to.  liud's audit puts back a register that\n"
             "its configuration sets.  Through liud only where its configuration allows\n"
             "register writes (raw_writes), and never the software reset (global 0x04).",
         .args = {kRegister, kChannel, {ArgKind::Byte, "VALUE", "value"}},
         .flags = kAtChip | kNeedsInit | kConfigures,
         .handler = write,
         .text = writeText},
        {.name = "dump",
         .summary = "print the port's user arbitrary waveform",
         .details = "The library's printout of the 16 x 4 samples, the amplitude scaling and the\n"
                    "termination.  Only a port whose template code register 0x23 holds 0x0c is\n"
                    "dumped.  Standalone, the dump sets the library's port count to 8; liud puts\n"
                    "its own back.",
         .args = {{ArgKind::Port, "PORT", "port"}},
         .flags = kAtChip | kNeedsInit,
         .handler = dump,
         .text = dumpText},
        {.name = "has",
         .summary = "read LOS or PRBS straight from the alarm status register",
         .details = "liuDrv_hasLos / liuDrv_hasPrbs: no alarm state is kept or changed.",
         .args = {{ArgKind::Choice, "", "indication", {"los", "prbs"}},
                  {ArgKind::Ports, "PORTS", "port"}},
         .flags = kAtChip | kNeedsInit,
         .handler = has,
         .text = hasText},
    };
    return kCommands;
}

} // namespace liucmd::handlers
