// SPDX-License-Identifier: MIT
// The liuctl command language, defined once: one table of commands, each
// entry the whole command (name, help, its arguments, what kind of command
// it is, handler, text form), the dispatcher that turns words into one
// result object, help and completion.  liuctl runs the handlers against the
// library in its own process (standalone) or sends the words to liud, which
// runs the same handlers against the chip it owns and answers the same
// result object.  Whatever differs between commands is in their entries:
// no code tests a command's name.
//
// A result is a JSON object in the envelope of liud's protocol:
// {"ok":true,"command":"show",...} or, after an error,
// {"ok":false,"command":"set","error":"...","status":1,...} with what the
// command had done up to the error (e.g. the ports already set).
#pragma once

#include "Alarms.h"
#include "Arguments.h"
#include "Settings.h"
#include "Words.h"

#include <cstdint>
#include <string>
#include <vector>

namespace liucmd {

// What runs a command's chip operations: the library in liuctl's process,
// or liud's loop.  The handlers do everything else themselves.  Each member
// throws Failure when it refuses.
class Context {
  public:
    virtual ~Context() = default;

    // Brings the chip up (liuctl) or refuses (liud owns it already).
    virtual int init(const Args& args, int inoutType, int ports) = 0;
    virtual void setInOut(const Args& args, int inoutType) = 0;
    // Refuses a set before any port is configured (liud checks it as it
    // checks its configuration file), so a set is done for all its ports
    // or none.
    virtual void checkConfigure(const Args&, const Setting&, const std::vector<std::uint16_t>&,
                                int) {}
    // Configures one setting of one port; the library's result.
    virtual int configure(const Args& args, const Setting& setting, std::uint16_t port,
                          int value) = 0;
    virtual int setRefClock(const Args& args, bool outputA, std::uint16_t port) = 0;
    // Writes one register (liud refuses what its configuration does not allow).
    virtual int writeRegister(const Args& args, std::uint8_t reg, std::uint16_t channel,
                              std::uint8_t value) = 0;
    // The library's printout of a port's pulse shape parameters (what it
    // writes on stderr) into printout; the library's result.
    virtual int dumpPulseShape(const Args& args, std::uint16_t port, std::string& printout) = 0;
    // The table of the last poll, or nullptr before the first.
    virtual const AlarmSnapshot* lastPoll() const = 0;
    // liuctl polls the chip; liud hands out its own latest poll.
    virtual const AlarmSnapshot& poll(const Args& args) = 0;
    // Streams alarm changes for seconds (0: until interrupted) and fills the
    // summary into result.
    virtual void watch(const Args& args, double seconds, Json& result) = 0;
    // liud's configuration and state of ports (liud only).
    virtual liuproto::Status status(const Args& args, const std::vector<std::uint16_t>& ports) = 0;
    // Ports the commands may name.
    virtual unsigned portCount() const = 0;
    // True once the user asked to stop a sleep or a watch (Ctrl-C).
    virtual bool interrupted() const { return false; }
};

// What kind of command an entry is.
enum CommandFlag : unsigned {
    // Runs where the chip is: in liud, or in liuctl standalone.  Without it
    // the command runs in liuctl itself (and liud answers it too).
    kAtChip = 1u << 0,
    // Refused until the library is up (before its arguments are read).
    kNeedsInit = 1u << 1,
    // Changes the chip or the state of the library or of liud: through liud
    // only root and the members of its control group may run it.
    kConfigures = 1u << 2,
    // Streams events before its answer.
    kStreams = 1u << 3,
    // Waits: Ctrl-C ends the command, not liuctl.
    kWaits = 1u << 4,
    // Only in liuctl: liud's loop never waits.
    kClientOnly = 1u << 5,
    // Ends the session.
    kEndsSession = 1u << 6,
};

struct CommandEntry {
    const char* name;
    const char* summary; // one line
    std::string details; // further lines of "help CMD", may be empty
    std::vector<Param> args;
    unsigned flags;
    void (*handler)(Context& context, const Args& args, Json& result);
    std::string (*text)(const Json& result);

    bool has(CommandFlag flag) const { return (flags & flag) != 0; }
};

const std::vector<CommandEntry>& commands();
// The command of this (case-insensitive) name ("exit" is "quit"), or nullptr.
const CommandEntry* findCommand(const std::string& name);

// Runs one command; never throws.  An unknown command or a bad word gives
// {"ok":false,"error":...,"status":2}.
Json runCommand(Context& context, const std::vector<std::string>& words);
// The exit status a result stands for: 0, or its "status".
int resultStatus(const Json& result);

// The text form of a result (what its command prints for people; empty for
// commands that print nothing), and of a watch's events.  Throws
// Json::exception for an object that is not a result of these commands.
std::string resultText(const Json& result);
std::string eventText(const Json& event);

// "help" text: the command list, or one command's usage ("" if unknown).
std::string helpText(const std::string& command);

// Candidates for the word being typed after words (the command line so far,
// complete words only).
std::vector<std::string> completeWord(const std::vector<std::string>& words, unsigned portCount);

} // namespace liucmd
