// SPDX-License-Identifier: MIT
// The liuctl command language, defined once: one table of commands (name,
// synopsis, help, completion of each argument, handler, text form), the
// dispatcher that turns words into one result object, and the text form of
// results.  liuctl runs the handlers against the library in its own process
// (standalone) or sends the words to liud, which runs the same handlers
// against the chip it owns and answers the same result object.
//
// A result is a JSON object: {"ok":true,"command":"show",...} or, after an
// error, {"ok":false,"command":"set","error":"...","status":1,...} with what
// the command had done up to the error (e.g. the ports already set).
#pragma once

#include "Alarms.h"
#include "Json.h"
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
    // The table of the last poll, or nullptr before the first.
    virtual const AlarmSnapshot* lastPoll() const = 0;
    // liuctl polls the chip; liud hands out its own latest poll.
    virtual const AlarmSnapshot& poll(const Args& args) = 0;
    // Streams alarm changes through event() for seconds (0: until
    // interrupted) and fills the summary into result.
    virtual void watch(const Args& args, double seconds, Json& result) = 0;
    // liud's configuration and state per port (liud only).
    virtual void status(const Args& args, const std::vector<std::uint16_t>& ports,
                        Json& result) = 0;
    // Ports the commands may name.
    virtual unsigned portCount() const = 0;
    // True once the user asked to stop a sleep or a watch (Ctrl-C).
    virtual bool interrupted() const { return false; }
};

// Where a command runs.
enum class Where {
    Chip,       // where the chip is: liuctl standalone, or liud
    Anywhere,   // in liuctl, and liud answers it too (echo, help, quit)
    ClientOnly, // only in liuctl (sleep: liud's loop never waits)
};

// What Tab offers for an argument.
enum class Completion {
    None,
    Ports,
    Setting,
    SettingValue, // the values of the setting named before
    Inout,
    Output,
    Indication,
    OnOff,
    TraceLevel,
    Command,
    Channel,
};

struct CommandEntry {
    const char* name;
    const char* synopsis; // arguments after the name
    const char* summary;  // one line
    const char* details;  // further lines of "help CMD", may be empty
    std::vector<Completion> completion;
    void (*handler)(Context& context, const Args& args, Json& result);
    std::string (*text)(const Json& result);
    Where where;
};

const std::vector<CommandEntry>& commands();
// The command of this (case-insensitive) name ("exit" is "quit"), or nullptr.
const CommandEntry* findCommand(const std::string& name);

// Runs one command; never throws.  An unknown command or a bad word gives
// {"ok":false,"error":...,"status":2}.
Json runCommand(Context& context, const std::vector<std::string>& words);
// {"ok":false,"error":message,"status":status}, with "command" when known.
Json errorResult(const std::string& command, const std::string& message, int status);
// The exit status a result stands for: 0, or its "status".
int resultStatus(const Json& result);

// The text form of a result (what its command prints for people; empty for
// commands that print nothing), and of a watch's event objects.  Throws
// Json::exception for an object that is not a result of these commands.
std::string resultText(const Json& result);
std::string eventText(const Json& event);

// "help" text: the command list, or one command's usage ("" if unknown).
std::string helpText(const std::string& command);

// Candidates for the word being typed after words (the command line so far,
// complete words only).
std::vector<std::string> completeWord(const std::vector<std::string>& words, unsigned portCount);

} // namespace liucmd
