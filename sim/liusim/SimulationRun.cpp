// SPDX-License-Identifier: MIT
#include "SimulationRun.h"

#include "ControlChannel.h"
#include "Scenario.h"
#include "TransferLogFile.h"
#include "UmockdevBinding.h"

#include <signal.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

extern char** environ;

namespace liusim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";
constexpr const char* kAsanLinkOrderCheckOff = "verify_asan_link_order=0";
constexpr int kSignals[] = {SIGCHLD, SIGINT, SIGTERM, SIGHUP};

sigset_t handledSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kSignals) {
        sigaddset(&set, signal);
    }
    return set;
}

// This process's environment with the settings that put the program under
// the simulation: the preload library (ahead of any already preloaded), the
// testbed directory and the control socket.  A program built with
// AddressSanitizer refuses to start when a preloaded library comes before its
// runtime, so that check is switched off (nothing changes for other programs).
std::vector<std::string> programEnvironment(const std::string& testbed,
                                            const std::string& control) {
    std::vector<std::string> environment;
    std::string preload = kPreloadLibrary;
    std::string asanOptions = kAsanLinkOrderCheckOff;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (variable.rfind("LD_PRELOAD=", 0) == 0) {
            preload += ' ' + variable.substr(11);
        } else if (variable.rfind("ASAN_OPTIONS=", 0) == 0) {
            asanOptions = variable.substr(13) + ':' + asanOptions;
        } else if (variable.rfind("UMOCKDEV_DIR=", 0) != 0 &&
                   variable.rfind("LIUSIM_CTL=", 0) != 0) {
            environment.push_back(variable);
        }
    }
    environment.push_back("LD_PRELOAD=" + preload);
    environment.push_back("ASAN_OPTIONS=" + asanOptions);
    environment.push_back("UMOCKDEV_DIR=" + testbed);
    environment.push_back("LIUSIM_CTL=" + control);
    return environment;
}

std::vector<char*> pointersTo(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Starts the program with default signal handling and an empty signal mask.
pid_t spawnProgram(std::vector<std::string> program, std::vector<std::string> environment) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    const sigset_t handled = handledSignals();
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &handled);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> arguments = pointersTo(program);
    std::vector<char*> variables = pointersTo(environment);
    pid_t pid = -1;
    const int error =
        posix_spawnp(&pid, arguments[0], nullptr, &attributes, arguments.data(), variables.data());
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return pid;
}

int exitStatusOf(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return WEXITSTATUS(waitStatus);
}

class SimulationRun {
  public:
    explicit SimulationRun(const RunOptions& options)
        : options_(options),
          scenario_(options.scenarioPath.empty() ? Scenario()
                                                 : Scenario::load(options.scenarioPath)),
          binding_(device_), control_(options.controlPath, model_) {}

    int run();

  private:
    bool startProgram();
    void serveUntilProgramEnds();
    int pollTimeoutMs() const;
    void handleSignal(int signalFd);

    const RunOptions& options_;
    Scenario scenario_;
    LiuModel model_;
    SpidevDevice device_{model_};
    UmockdevBinding binding_;
    ControlChannel control_;
    std::unique_ptr<TransferLogFile> log_;
    Clock::time_point start_;
    pid_t program_ = -1;
    std::optional<int> exitStatus_;
};

int SimulationRun::run() {
    start_ = Clock::now();
    if (!options_.logPath.empty()) {
        log_ = std::make_unique<TransferLogFile>(options_.logPath, start_);
        model_.setTransferListener([this](const Transfer& transfer) { log_->write(transfer); });
    }
    scenario_.runDue(Scenario::Seconds(0), model_);
    if (!startProgram()) {
        return errno == ENOENT ? 127 : 126;
    }
    serveUntilProgramEnds();
    model_.setTransferListener({});
    return *exitStatus_;
}

bool SimulationRun::startProgram() {
    program_ =
        spawnProgram(options_.program, programEnvironment(binding_.rootDir(), control_.path()));
    if (program_ < 0) {
        const int error = errno;
        std::fprintf(stderr, "liusim: cannot run %s: %s\n", options_.program[0].c_str(),
                     std::strerror(error));
        errno = error;
        return false;
    }
    return true;
}

void SimulationRun::serveUntilProgramEnds() {
    const sigset_t handled = handledSignals();
    const int signalFd = signalfd(-1, &handled, SFD_CLOEXEC);
    while (!exitStatus_) {
        std::vector<pollfd> pollSet{{signalFd, POLLIN, 0}};
        control_.addTo(pollSet);
        if (poll(pollSet.data(), pollSet.size(), pollTimeoutMs()) > 0) {
            if (pollSet[0].revents != 0) {
                handleSignal(signalFd);
            }
            control_.serve(std::span(pollSet).subspan(1));
        }
        scenario_.runDue(Clock::now() - start_, model_);
    }
    close(signalFd);
}

int SimulationRun::pollTimeoutMs() const {
    const auto next = scenario_.nextTime();
    if (!next) {
        return -1;
    }
    const auto remaining = *next - (Clock::now() - start_);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
    return ms > 0 ? static_cast<int>(ms) : 0;
}

// A child exit ends the run; a termination signal sent to liusim alone
// is passed on to the program (one from the terminal already reached it).
void SimulationRun::handleSignal(int signalFd) {
    signalfd_siginfo info{};
    if (read(signalFd, &info, sizeof info) != sizeof info) {
        return;
    }
    if (info.ssi_signo == SIGCHLD) {
        int status = 0;
        if (waitpid(program_, &status, WNOHANG) == program_) {
            exitStatus_ = exitStatusOf(status);
        }
        return;
    }
    if (info.ssi_code != SI_KERNEL) {
        kill(program_, static_cast<int>(info.ssi_signo));
    }
}

} // namespace

int runSimulation(const RunOptions& options) {
    // Blocked before any thread starts (umockdev starts one), so that every
    // thread leaves them to the signal descriptor of the serving loop.
    const sigset_t handled = handledSignals();
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    try {
        SimulationRun run(options);
        return run.run();
    } catch (const CommandError& error) {
        std::fprintf(stderr, "liusim: %s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}

} // namespace liusim
