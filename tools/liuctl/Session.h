// SPDX-License-Identifier: MIT
// Session: the one holder of the driver library in a liuctl process.  It
// runs commands (words already split) against the library and keeps what
// must outlive a command: the alarm state table of the last poll.
#pragma once

#include "Common.h"
#include "Output.h"

#include "LiuDrv.h"

#include <array>
#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace liuctl {

using AlarmTable = std::array<std::array<std::int32_t, LIUDRV_ALARM_ENTRIES>, LIUDRV_ALARM_PORTS>;

struct CommandInfo {
    const char* name;
    const char* synopsis; // arguments after the name
    const char* summary;  // one line
    const char* details;  // further lines of "help CMD", may be empty
};

class Session {
  public:
    explicit Session(Output output) : out_(output) {}

    // Runs one command; throws CommandError (UsageError / Failure).  Returns
    // false for "quit".
    bool run(const std::vector<std::string>& words);

    static const std::vector<CommandInfo>& commands();
    // "help" text: the command list, or one command's usage.
    static std::string helpText(const std::string& command);

    // Set by SIGINT/SIGTERM handlers: ends a running watch.
    static volatile std::sig_atomic_t interrupted;

  private:
    using Handler = void (Session::*)(const Args&);
    static Handler handlerOf(const std::string& name);

    void init(const Args& args);
    void inout(const Args& args);
    void set(const Args& args);
    void get(const Args& args);
    void refclk(const Args& args);
    void read(const Args& args);
    void write(const Args& args);
    void dump(const Args& args);
    void has(const Args& args);
    void connected(const Args& args);
    void broadcast(const Args& args);
    void state(const Args& args);
    void poll(const Args& args);
    void watch(const Args& args);
    void show(const Args& args);
    void trace(const Args& args);
    void sleep(const Args& args);
    void echo(const Args& args);
    void help(const Args& args);

    // Refuses commands that need the chip before "init".
    static void requireInit(const Args& args);
    // One port below liuDrv_maxPorts.
    static std::uint16_t parsePort(const Args& args, std::size_t index);
    // Reads one register of a port's channel; Failure naming context on error.
    static std::uint8_t readRegister(const std::string& context, std::uint8_t reg,
                                     std::uint16_t channel);
    void pollOnce(const std::string& context, AlarmTable& table);

    Output out_;
    std::optional<AlarmTable> lastPoll_;
};

} // namespace liuctl
