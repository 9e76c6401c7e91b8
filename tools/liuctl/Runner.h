// SPDX-License-Identifier: MIT
// What liuctl runs its commands with: the library in its own process
// (LocalChip) or a running liud (LiudLink); how it prints their results;
// and how Ctrl-C reaches a command that waits.
#pragma once

#include "Commands.h"

#include <csignal>
#include <string>
#include <vector>

namespace liuctl {

inline constexpr const char* kProgram = "liuctl";

using liucmd::Json;

// Prints results and watch events: text tables on stdout and errors as
// "liuctl: ..." on stderr, or one JSON object a line on stdout (errors too).
class Printer {
  public:
    explicit Printer(bool json) : json_(json) {}
    bool json() const { return json_; }
    void event(const Json& event) const;
    // where: "FILE:LINE: " of a script command, or empty.
    void result(const Json& result, const std::string& where = {}) const;
    // An error outside any command (options, files).
    void error(const std::string& message, int status) const;

  private:
    bool json_;
};

class Runner {
  public:
    virtual ~Runner() = default;
    // Runs one command and returns its result; watch events are printed as
    // they come.
    virtual Json run(const std::vector<std::string>& words) = 0;
    // Ports for completion.
    virtual unsigned portCount() const = 0;
};

// Ctrl-C.  While catchInterrupts is set (the whole interactive shell, or a
// sleep or watch of a script) SIGINT only sets interrupted; otherwise it
// ends liuctl as usual.
namespace interrupts {
extern volatile std::sig_atomic_t interrupted;
extern volatile std::sig_atomic_t catching;
// Installs the SIGINT handler (without SA_RESTART: a waiting read returns).
void install();
// Catches interrupts for the scope of the object.
class Catch {
  public:
    Catch() : previous_(catching) {
        interrupted = 0;
        catching = 1;
    }
    ~Catch() { catching = previous_; }
    Catch(const Catch&) = delete;
    Catch& operator=(const Catch&) = delete;

  private:
    std::sig_atomic_t previous_;
};
} // namespace interrupts

// A Context for the commands that run in liuctl whatever runs the chip
// (sleep, echo, help, quit): every chip operation refuses.
class ClientContext : public liucmd::Context {
  public:
    int init(const liucmd::Args& args, int, int) override { refuse(args); }
    void setInOut(const liucmd::Args& args, int) override { refuse(args); }
    int configure(const liucmd::Args& args, const liucmd::Setting&, std::uint16_t, int) override {
        refuse(args);
    }
    int setRefClock(const liucmd::Args& args, bool, std::uint16_t) override { refuse(args); }
    int writeRegister(const liucmd::Args& args, std::uint8_t, std::uint16_t,
                      std::uint8_t) override {
        refuse(args);
    }
    int dumpPulseShape(const liucmd::Args& args, std::uint16_t, std::string&) override {
        refuse(args);
    }
    const liucmd::AlarmSnapshot* lastPoll() const override { return nullptr; }
    const liucmd::AlarmSnapshot& poll(const liucmd::Args& args) override { refuse(args); }
    void watch(const liucmd::Args& args, double, Json&) override { refuse(args); }
    liuproto::Status status(const liucmd::Args& args, const std::vector<std::uint16_t>&) override {
        refuse(args);
    }
    unsigned portCount() const override { return 0; }
    bool interrupted() const override { return interrupts::interrupted != 0; }

  private:
    [[noreturn]] static void refuse(const liucmd::Args& args) {
        throw liucmd::Failure(args.command() + ": not a command of the client");
    }
};

} // namespace liuctl
