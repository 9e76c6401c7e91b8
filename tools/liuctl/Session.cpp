// SPDX-License-Identifier: MIT
// Session: command table, help texts and the commands that reach one
// library operation each (start-up, registers, reference clocks, dump).
#include "Session.h"

#include "ChipNames.h"
#include "LiuTrace.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace liuctl {

volatile std::sig_atomic_t Session::interrupted = 0;

namespace {

const std::vector<CommandInfo> kCommands = {
    {"init", "INOUT PORTS", "bring the LIU up: reset it and give ports 0..PORTS-1 their defaults",
     "INOUT is the board's line interface: asym (1, E1 only), sym (2, E1, T1 and JT1),\n"
     "none (255) or any number 0..255.  PORTS is 1..16 (the LIU has 8).\n"
     "The library initialises once per process and resets the chip when it does:\n"
     "run init once, before every command that reaches the chip."},
    {"inout", "INOUT", "set the input/output type used by the next line type configuration",
     "INOUT as for init.  No register access."},
    {"set", "SETTING PORTS VALUE", "configure ports, then show what the chip now holds",
     "SETTING and VALUE:\n"
     "  linetype     e1, t1 or jt1          read back from registers 0x20, 0x32, 0x23\n"
     "  linecode     1 or 2                 read back with liuDrv_getLineCode\n"
     "  lbo          1..4 (build-out)       register 0x23 (the chip cannot report it)\n"
     "  linelen      1..5 (line length)     register 0x23 (the chip cannot report it)\n"
     "  haul         1 or 2                 read back with liuDrv_getHaulType\n"
     "  remoteloop   on or off              read back with liuDrv_getLoopRemote\n"
     "  analogloop   on or off              read back with liuDrv_getLoopAnalog\n"
     "  digitalloop  on or off              read back with liuDrv_getLoopDigital\n"
     "  txpower      up or down             read back with liuDrv_getPowerupTx\n"
     "  rxpower      up or down             read back with liuDrv_getPowerupRx\n"
     "PORTS: a port (3), a range (0-3), a list (0,2,4-7) or all.\n"
     "The pulse template code the library writes for linetype, lbo and linelen\n"
     "follows the line type requested last for any port."},
    {"get", "SETTING PORTS", "read a setting back through the library",
     "SETTING as for set.  linetype: liuDrv_getLineType reports E1 for every port\n"
     "(this chip never tells its pulse template), so registers 0x20, 0x32 and 0x23\n"
     "are shown beside it.  lbo and linelen: the library cannot read them back\n"
     "from this chip and reports -1; show prints the template code register."},
    {"refclk", "a|b PORT", "choose the port that drives reference clock output A or B",
     "Afterwards global register 0x07 is read to show the ports of both outputs."},
    {"read", "REG CH|global", "read one register of a channel (0..15) or a global register",
     "REG is 0..255 or 0x00..0xff."},
    {"write", "REG CH|global VALUE", "write one register", "No read-back: read it if you want to."},
    {"dump", "PORT", "print the port's user arbitrary waveform",
     "The library prints the 16 x 4 samples, the amplitude scaling and the\n"
     "termination on stderr (with --json they are returned in \"printout\").  Only a\n"
     "port whose template code register 0x23 holds 0x0c is dumped.  The dump sets\n"
     "the library's port count to 8."},
    {"has", "los|prbs PORTS", "read LOS or PRBS straight from the alarm status register",
     "liuDrv_hasLos / liuDrv_hasPrbs: no alarm state is kept or changed."},
    {"connected", "", "check that the LIU answers (liuDrv_isLiuConnected)", ""},
    {"broadcast", "on|off", "switch the library's broadcast mode (changes nothing on this LIU)",
     ""},
    {"state", "", "print the library's exported state", ""},
    {"poll", "", "poll the alarms once (liuDrv_alarmHandler) and print the alarm state table",
     "States: - not seen active since start-up, active, inactive (was active, now\n"
     "clear).  show prints the table of the last poll."},
    {"watch", "[INTERVAL] [COUNT]", "poll the alarms periodically and print each change",
     "INTERVAL in seconds (default 1, fractions allowed), COUNT polls (default 0:\n"
     "until Ctrl-C).  Each change: UTC time, port, indication, new state.  At the\n"
     "end, for every port and indication that changed: how often it went active,\n"
     "its state now and since when."},
    {"show", "[PORTS]", "one row per port: settings, chip registers, alarms of the last poll",
     "Line code, haul, loopbacks and power come from the library's get operations;\n"
     "mode bit (0x20), termination (0x32) and template code (0x23) from the chip's\n"
     "registers; the alarms from the last poll or watch (- before any).  show\n"
     "polls nothing itself."},
    {"trace", "off|error|call|detail", "choose which library trace lines reach stderr", ""},
    {"sleep", "SECONDS", "wait (fractions allowed)", ""},
    {"echo", "[TEXT...]", "print text", ""},
    {"help", "[COMMAND]", "print the command list or one command's usage", ""},
    {"quit", "", "end the session (so do exit and the end of the input)", ""},
};

std::string usageLine(const CommandInfo& info) {
    return std::string(info.name) + (info.synopsis[0] != '\0' ? " " : "") + info.synopsis;
}

int parseInout(const Args& args, std::size_t index) {
    static const std::vector<std::string_view> kNames = {"asym", "sym", "none"};
    static constexpr int kValues[] = {LIUDRV_INOUT_ASYMMETRICAL, LIUDRV_INOUT_SYMMETRICAL,
                                      LIUDRV_INOUT_NONE};
    const std::string& text = args.word(index, "input/output type");
    long value = 0;
    if (parseNumber(text, 0, 255, value)) {
        return static_cast<int>(value);
    }
    return kValues[parseChoice(args, index, "input/output type", kNames)];
}

std::uint16_t parseChannel(const Args& args, std::size_t index) {
    const std::string& text = args.word(index, "channel");
    long value = 0;
    if (lowerCase(text) == "global") {
        return LIUDRV_CHANNEL_GLOBAL;
    }
    if (!parseNumber(text, 0, 15, value)) {
        args.bad("channel", text, "0..15 or global");
    }
    return static_cast<std::uint16_t>(value);
}

std::string channelText(std::uint16_t channel) {
    return channel == LIUDRV_CHANNEL_GLOBAL ? "global" : "channel " + std::to_string(channel);
}

Json channelJson(std::uint16_t channel) {
    return channel == LIUDRV_CHANNEL_GLOBAL ? Json("global") : Json(unsigned{channel});
}

// Runs call with fd 1 pointing at stderr: keeps the library's start-up line
// out of the JSON on stdout.
template <typename Call> int withStdoutOnStderr(Call call) {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    if (saved < 0) {
        return call();
    }
    dup2(STDERR_FILENO, STDOUT_FILENO);
    const int result = call();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return result;
}

// Runs call with fd 2 going to a temporary file and returns what it wrote.
template <typename Call> int captureStderr(Call call, std::string& captured) {
    std::FILE* file = std::tmpfile();
    std::fflush(stderr);
    const int saved = file != nullptr ? dup(STDERR_FILENO) : -1;
    if (saved < 0) {
        if (file != nullptr) {
            std::fclose(file);
        }
        return call();
    }
    dup2(fileno(file), STDERR_FILENO);
    const int result = call();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::rewind(file);
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        captured.append(buffer, got);
    }
    std::fclose(file);
    return result;
}

// Splits captured stderr text: trace lines ("ERROR ...", "CALL ...",
// "DETAIL ...") go back to stderr, the rest is returned.
std::string passTraceLines(const std::string& captured) {
    std::string rest;
    std::size_t start = 0;
    while (start < captured.size()) {
        const std::size_t end = std::min(captured.find('\n', start), captured.size() - 1) + 1;
        const std::string line = captured.substr(start, end - start);
        if (line.starts_with("ERROR ") || line.starts_with("CALL ") ||
            line.starts_with("DETAIL ")) {
            std::fputs(line.c_str(), stderr);
        } else {
            rest += line;
        }
        start = end;
    }
    return rest;
}

Failure libraryFailure(const std::string& context, int result) {
    return Failure(context + ": library result " + std::to_string(result));
}

} // namespace

const std::vector<CommandInfo>& Session::commands() {
    return kCommands;
}

std::string Session::helpText(const std::string& command) {
    if (command.empty()) {
        std::string text = "Commands:\n";
        for (const auto& info : kCommands) {
            char line[160];
            std::snprintf(line, sizeof line, "  %-27s %s\n", usageLine(info).c_str(), info.summary);
            text += line;
        }
        return text + "Type 'help COMMAND' for one command.\n";
    }
    for (const auto& info : kCommands) {
        if (command == info.name) {
            std::string text = "Usage: " + usageLine(info) + "\n" + info.summary + ".\n";
            if (info.details[0] != '\0') {
                text += std::string("\n") + info.details + "\n";
            }
            return text;
        }
    }
    return {};
}

Session::Handler Session::handlerOf(const std::string& name) {
    static const struct {
        const char* name;
        Handler handler;
    } kHandlers[] = {
        {"init", &Session::init},
        {"inout", &Session::inout},
        {"set", &Session::set},
        {"get", &Session::get},
        {"refclk", &Session::refclk},
        {"read", &Session::read},
        {"write", &Session::write},
        {"dump", &Session::dump},
        {"has", &Session::has},
        {"connected", &Session::connected},
        {"broadcast", &Session::broadcast},
        {"state", &Session::state},
        {"poll", &Session::poll},
        {"watch", &Session::watch},
        {"show", &Session::show},
        {"trace", &Session::trace},
        {"sleep", &Session::sleep},
        {"echo", &Session::echo},
        {"help", &Session::help},
    };
    for (const auto& entry : kHandlers) {
        if (name == entry.name) {
            return entry.handler;
        }
    }
    return nullptr;
}

bool Session::run(const std::vector<std::string>& words) {
    if (words.empty()) {
        return true;
    }
    const std::string name = lowerCase(words.front());
    if (name == "quit" || name == "exit") {
        Args(words).noMoreThan(0);
        return false;
    }
    const Handler handler = handlerOf(name);
    if (handler == nullptr) {
        throw UsageError("unknown command '" + words.front() + "' (try 'help')");
    }
    std::vector<std::string> normalised = words;
    normalised.front() = name;
    (this->*handler)(Args(std::move(normalised)));
    return true;
}

void Session::requireInit(const Args& args) {
    if (liuDrv_inited == 0) {
        throw Failure(args.command() +
                      ": the library is not initialised: run 'init INOUT PORTS' first");
    }
}

std::uint16_t Session::parsePort(const Args& args, std::size_t index) {
    const std::string& text = args.word(index, "port");
    long port = 0;
    if (!parseNumber(text, 0, static_cast<long>(liuDrv_maxPorts) - 1, port)) {
        args.bad("port", text, "ports are 0.." + std::to_string(liuDrv_maxPorts - 1));
    }
    return static_cast<std::uint16_t>(port);
}

std::uint8_t Session::readRegister(const std::string& context, std::uint8_t reg,
                                   std::uint16_t channel) {
    std::uint8_t value = 0;
    const int result = liuDrv_read(reg, channel, &value);
    if (result != 0) {
        throw libraryFailure(
            context + ": read of register " + hexByte(reg) + " " + channelText(channel), result);
    }
    return value;
}

void Session::init(const Args& args) {
    const int inout = parseInout(args, 1);
    const long ports = parseInteger(args, 2, "port count", 1, LIUDRV_ALARM_PORTS);
    args.noMoreThan(2);
    const auto call = [&] { return liuDrv_init(inout, static_cast<std::uint8_t>(ports)); };
    const int result = out_.json() ? withStdoutOnStderr(call) : call();
    if (out_.json()) {
        out_.emit(Json::object()
                      .set("command", "init")
                      .set("inout", inout)
                      .set("ports", ports)
                      .set("result", result));
    }
    if (result != 0) {
        throw libraryFailure("init", result);
    }
    lastPoll_.reset();
    if (!out_.json()) {
        out_.text("LIU 82V5088 up: " + std::to_string(liuDrv_maxPorts) + " ports, " +
                  inoutName(liuDrv_inoutType) + " line interface (" +
                  std::to_string(liuDrv_inoutType) + ")\n");
    }
}

void Session::inout(const Args& args) {
    const int inout = parseInout(args, 1);
    args.noMoreThan(1);
    liuDrv_setInOutType(inout);
    if (out_.json()) {
        out_.emit(Json::object().set("command", "inout").set("inout", liuDrv_inoutType));
    } else {
        out_.text("input/output type: " + inoutName(liuDrv_inoutType) + " (" +
                  std::to_string(liuDrv_inoutType) + "), used by the next line type setting\n");
    }
}

void Session::refclk(const Args& args) {
    const std::size_t output = parseChoice(args, 1, "reference clock output", {"a", "b"});
    requireInit(args);
    const std::uint16_t port = parsePort(args, 2);
    args.noMoreThan(2);
    const char* name = output == 0 ? "A" : "B";
    const int result = output == 0 ? liuDrv_setRefAClock(port) : liuDrv_setRefBClock(port);
    const std::string context = std::string("refclk ") + (output == 0 ? "a" : "b");
    if (result != 0) {
        if (out_.json()) {
            out_.emit(Json::object()
                          .set("command", "refclk")
                          .set("output", name)
                          .set("port", unsigned{port})
                          .set("result", result));
        }
        throw libraryFailure(context, result);
    }
    const std::uint8_t value = readRegister(context, kRefClockRegister, LIUDRV_CHANNEL_GLOBAL);
    const unsigned portA = value & 0x07u;
    const unsigned portB = (value >> 3) & 0x07u;
    if (out_.json()) {
        out_.emit(Json::object()
                      .set("command", "refclk")
                      .set("output", name)
                      .set("port", unsigned{port})
                      .set("result", result)
                      .set("readBack", Json::object()
                                           .set("source", "chip registers")
                                           .set("refClockRegister", unsigned{value})
                                           .set("portA", portA)
                                           .set("portB", portB)));
        return;
    }
    Table table({"OUTPUT", "PORT"});
    table.add({"A", std::to_string(portA)});
    table.add({"B", std::to_string(portB)});
    out_.text("reference clock ports, read back from global register 0x07 (" + hexByte(value) +
              "):\n" + table.render());
}

void Session::read(const Args& args) {
    const std::uint8_t reg = parseByte(args, 1, "register");
    const std::uint16_t channel = parseChannel(args, 2);
    args.noMoreThan(2);
    requireInit(args);
    std::uint8_t value = 0;
    const int result = liuDrv_read(reg, channel, &value);
    if (out_.json()) {
        Json json = Json::object()
                        .set("command", "read")
                        .set("register", unsigned{reg})
                        .set("channel", channelJson(channel))
                        .set("result", result);
        json.set("value", result == 0 ? Json(unsigned{value}) : Json());
        out_.emit(json);
    }
    if (result != 0) {
        throw libraryFailure("read", result);
    }
    if (!out_.json()) {
        out_.text(channelText(channel) + " register " + hexByte(reg) + ": " + hexByte(value) +
                  "\n");
    }
}

void Session::write(const Args& args) {
    const std::uint8_t reg = parseByte(args, 1, "register");
    const std::uint16_t channel = parseChannel(args, 2);
    const std::uint8_t value = parseByte(args, 3, "value");
    args.noMoreThan(3);
    requireInit(args);
    const int result = liuDrv_write(reg, channel, value, 1);
    if (out_.json()) {
        out_.emit(Json::object()
                      .set("command", "write")
                      .set("register", unsigned{reg})
                      .set("channel", channelJson(channel))
                      .set("value", unsigned{value})
                      .set("result", result));
    }
    if (result != 0) {
        throw libraryFailure("write", result);
    }
    if (!out_.json()) {
        out_.text(channelText(channel) + " register " + hexByte(reg) + " := " + hexByte(value) +
                  "\n");
    }
}

void Session::dump(const Args& args) {
    requireInit(args);
    const std::uint16_t port = parsePort(args, 1);
    args.noMoreThan(1);
    if (!out_.json()) {
        const int result = liuDrv_dumpPulseShapeParam(port);
        std::fflush(stderr);
        if (result != 0) {
            throw libraryFailure("dump: port " + std::to_string(port), result);
        }
        return;
    }
    std::string captured;
    const int result = captureStderr([&] { return liuDrv_dumpPulseShapeParam(port); }, captured);
    const std::string printout = passTraceLines(captured);
    out_.emit(Json::object()
                  .set("command", "dump")
                  .set("port", unsigned{port})
                  .set("result", result)
                  .set("printout", printout));
    if (result != 0) {
        throw libraryFailure("dump: port " + std::to_string(port), result);
    }
}

void Session::has(const Args& args) {
    const std::size_t which = parseChoice(args, 1, "indication", {"los", "prbs"});
    requireInit(args);
    const auto ports = parsePorts(args, 2, liuDrv_maxPorts);
    args.noMoreThan(2);
    const char* name = which == 0 ? "LOS" : "PRBS";
    Table table({"PORT", name});
    Json rows = Json::array();
    for (const std::uint16_t port : ports) {
        const int bits = which == 0 ? liuDrv_hasLos(port) : liuDrv_hasPrbs(port);
        table.add(
            {std::to_string(port),
             bits != 0 ? "present (" + hexByte(static_cast<unsigned>(bits)) + ")" : "absent"});
        rows.push(Json::object().set("port", unsigned{port}).set("status", bits));
    }
    if (out_.json()) {
        out_.emit(Json::object().set("command", "has").set("indication", name).set("ports", rows));
    } else {
        out_.text(std::string(name) + " in alarm status register 0x36:\n" + table.render());
    }
}

void Session::connected(const Args& args) {
    args.noMoreThan(0);
    requireInit(args);
    const int result = liuDrv_isLiuConnected();
    if (out_.json()) {
        out_.emit(Json::object()
                      .set("command", "connected")
                      .set("result", result)
                      .set("connected", result == 0));
    }
    if (result != 0) {
        throw libraryFailure("connected", result);
    }
    if (!out_.json()) {
        out_.text("the LIU answers (global register 0x04 read)\n");
    }
}

void Session::broadcast(const Args& args) {
    const int mode = static_cast<int>(parseChoice(args, 1, "mode", {"off", "on"}));
    args.noMoreThan(1);
    liuDrv_broadcastMode(mode);
    if (out_.json()) {
        out_.emit(Json::object().set("command", "broadcast").set("mode", mode));
    } else {
        out_.text(std::string("broadcast mode ") + (mode != 0 ? "on" : "off") +
                  " (this LIU has none: nothing changes on the chip)\n");
    }
}

void Session::state(const Args& args) {
    args.noMoreThan(0);
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
    Table table({"NAME", "VALUE"});
    Json json = Json::object().set("command", "state");
    for (const auto& [name, value] : globals) {
        table.add({name, std::to_string(value)});
        json.set(name, value);
    }
    if (out_.json()) {
        out_.emit(json);
    } else {
        out_.text(table.render());
    }
}

void Session::trace(const Args& args) {
    static constexpr int kLevels[] = {LIU_TRACE_SHOW_NONE, LIU_TRACE_SHOW_ERRORS,
                                      LIU_TRACE_SHOW_CALLS, LIU_TRACE_SHOW_DETAILS};
    const std::size_t which = parseChoice(args, 1, "level", {"off", "error", "call", "detail"});
    args.noMoreThan(1);
    liuTrace_setLevel(kLevels[which]);
    if (out_.json()) {
        out_.emit(Json::object().set("command", "trace").set("level", args.word(1, "level")));
    }
}

void Session::sleep(const Args& args) {
    const double seconds = parseSeconds(args, 1, "time", 0, 3600);
    args.noMoreThan(1);
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(seconds);
    wait.tv_nsec = static_cast<long>((seconds - static_cast<double>(wait.tv_sec)) * 1e9);
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR && interrupted == 0) {
    }
    if (out_.json()) {
        out_.emit(Json::object().set("command", "sleep").set("seconds", seconds));
    }
}

void Session::echo(const Args& args) {
    std::string text;
    for (std::size_t i = 1; i <= args.count(); ++i) {
        text += (i > 1 ? " " : "") + args.word(i, "text");
    }
    if (out_.json()) {
        out_.emit(Json::object().set("command", "echo").set("text", text));
    } else {
        out_.text(text + "\n");
    }
}

void Session::help(const Args& args) {
    args.noMoreThan(1);
    const std::string topic = args.has(1) ? lowerCase(args.word(1, "command")) : "";
    const std::string text = helpText(topic);
    if (text.empty()) {
        args.bad("command", args.word(1, "command"), "try 'help'");
    }
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

} // namespace liuctl
