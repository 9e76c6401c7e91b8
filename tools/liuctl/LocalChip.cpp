// SPDX-License-Identifier: MIT
#include "LocalChip.h"

#include "ChipDevice.h"
#include "OutputCapture.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace liuctl {

namespace {

constexpr double kWatchInterval = 0.1;

// Runs call with fd 1 pointing at stderr: the library's start-up line is a
// message for people, not a result.
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

timespec addSeconds(timespec time, double seconds) {
    const auto whole = static_cast<time_t>(seconds);
    time.tv_sec += whole;
    time.tv_nsec += static_cast<long>((seconds - static_cast<double>(whole)) * 1e9);
    while (time.tv_nsec >= 1000000000L) {
        time.tv_nsec -= 1000000000L;
        ++time.tv_sec;
    }
    return time;
}

} // namespace

Json LocalChip::run(const std::vector<std::string>& words) {
    return liucmd::runCommand(*this, words);
}

unsigned LocalChip::portCount() const {
    return liuDrv_maxPorts;
}

int LocalChip::init(const liucmd::Args&, int inoutType, int ports) {
    std::string owner;
    if (!lock_.take(owner)) {
        throw liucmd::Failure("init: refused: " + owner +
                              ", which init would reset (nothing was done; liuctl without "
                              "--standalone attaches to liud)");
    }
    std::fprintf(stderr,
                 "%s: init resets the LIU and powers every port down (on a board in "
                 "service, liud owns the chip: liuctl attaches to it)\n",
                 kProgram);
    const int result = withStdoutOnStderr(
        [&] { return liuDrv_init(inoutType, static_cast<std::uint8_t>(ports)); });
    if (result != 0 && liuDrv_inited == 0) {
        // The library could not open the device: say why, beside its own trace.
        const std::string problem = liucmd::deviceProblem();
        if (!problem.empty()) {
            throw liucmd::Failure("init: " + problem +
                                  " (without the board, run liuctl under liusim: liusim -- "
                                  "liuctl ...)");
        }
    }
    lastPoll_.reset();
    return result;
}

void LocalChip::setInOut(const liucmd::Args&, int inoutType) {
    liuDrv_setInOutType(inoutType);
}

int LocalChip::configure(const liucmd::Args&, const liucmd::Setting& setting, std::uint16_t port,
                         int value) {
    return setting.set(port, value);
}

int LocalChip::setRefClock(const liucmd::Args&, bool outputA, std::uint16_t port) {
    return outputA ? liuDrv_setRefAClock(port) : liuDrv_setRefBClock(port);
}

int LocalChip::writeRegister(const liucmd::Args&, std::uint8_t reg, std::uint16_t channel,
                             std::uint8_t value) {
    return liuDrv_write(reg, channel, value, 1);
}

int LocalChip::dumpPulseShape(const liucmd::Args&, std::uint16_t port, std::string& printout) {
    std::string captured;
    const int result = liutool::captureStream(
        stderr, [&] { return liuDrv_dumpPulseShapeParam(port); }, captured);
    printout = liutool::passTraceLines(captured);
    return result;
}

const liucmd::AlarmSnapshot* LocalChip::lastPoll() const {
    return lastPoll_ ? &*lastPoll_ : nullptr;
}

const liucmd::AlarmSnapshot& LocalChip::poll(const liucmd::Args& args) {
    std::int32_t buffer[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
    const int result = liuDrv_alarmHandler(buffer);
    if (result != 0) {
        throw liucmd::Failure(args.command() + ": library result " + std::to_string(result));
    }
    liucmd::AlarmSnapshot snapshot;
    for (std::size_t port = 0; port < LIUDRV_ALARM_PORTS; ++port) {
        std::copy(std::begin(buffer[port]), std::end(buffer[port]), snapshot.table[port].begin());
    }
    snapshot.ports = liucmd::polledPorts();
    snapshot.time = liucmd::utcNow();
    lastPoll_ = snapshot;
    return *lastPoll_;
}

void LocalChip::watch(const liucmd::Args& args, double seconds, Json& result) {
    liucmd::WatchSummary summary;
    liucmd::AlarmTable previous = lastPoll_ ? lastPoll_->table : liucmd::initialAlarmTable();
    interrupts::Catch catchInterrupts;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const long polls = seconds > 0 ? static_cast<long>(seconds / kWatchInterval + 0.5) : -1;
    for (long i = 0; polls < 0 || i <= polls; ++i) {
        if (i > 0) {
            const timespec deadline = addSeconds(start, kWatchInterval * static_cast<double>(i));
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR &&
                   !interrupted()) {
            }
        }
        if (interrupted()) {
            break;
        }
        const liucmd::AlarmSnapshot& now = poll(args);
        liucmd::forEachAlarmChange(
            previous, now.table, now.ports,
            [&](unsigned port, liucmd::Indication indication, bool active) {
                const liuproto::AlarmEvent event{port, indication, active, now.time};
                printer_.event(event);
                summary.add(event);
            });
        previous = now.table;
    }
    result["interrupted"] = interrupted();
    result["changes"] = summary.changes();
}

liuproto::Status LocalChip::status(const liucmd::Args& args, const std::vector<std::uint16_t>&) {
    throw liucmd::Failure(args.command() +
                          ": a liud command (liuctl runs standalone: there is no liud "
                          "configuration)");
}

} // namespace liuctl
