// SPDX-License-Identifier: MIT
// poll and watch: the library's alarm poll, one table or a stream of changes.
#include "Session.h"

#include "ChipNames.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <map>

namespace liuctl {

namespace {

// Ports the library polls: below liuDrv_maxPorts, at most the table's rows.
unsigned polledPorts() {
    return std::min<unsigned>(liuDrv_maxPorts, LIUDRV_ALARM_PORTS);
}

// "2024-05-01T12:00:00.123Z"
std::string utcTimestamp(std::chrono::system_clock::time_point time) {
    const auto since = time.time_since_epoch();
    const std::time_t seconds =
        static_cast<std::time_t>(std::chrono::duration_cast<std::chrono::seconds>(since).count());
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03ldZ", millis);
    return text;
}

// Ctrl-C ends a watch (not the process) while one runs.
class InterruptScope {
  public:
    InterruptScope() {
        Session::interrupted = 0;
        struct sigaction action {};
        action.sa_handler = [](int) { Session::interrupted = 1; };
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous_);
    }
    ~InterruptScope() { sigaction(SIGINT, &previous_, nullptr); }
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

  private:
    struct sigaction previous_ {};
};

// Sleeps until deadline on the monotonic clock; false when interrupted.
bool sleepUntil(const timespec& deadline) {
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
        if (Session::interrupted != 0) {
            return false;
        }
    }
    return Session::interrupted == 0;
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

AlarmTable initialTable() {
    AlarmTable table;
    for (auto& row : table) {
        row.fill(LIUDRV_ALARM_INITIAL);
    }
    return table;
}

} // namespace

void Session::pollOnce(const std::string& context, AlarmTable& table) {
    int32_t buffer[LIUDRV_ALARM_PORTS][LIUDRV_ALARM_ENTRIES];
    const int result = liuDrv_alarmHandler(buffer);
    if (result != 0) {
        throw Failure(context + ": library result " + std::to_string(result));
    }
    for (std::size_t port = 0; port < LIUDRV_ALARM_PORTS; ++port) {
        std::copy(std::begin(buffer[port]), std::end(buffer[port]), table[port].begin());
    }
    lastPoll_ = table;
}

void Session::poll(const Args& args) {
    args.noMoreThan(0);
    requireInit(args);
    AlarmTable table;
    pollOnce("poll", table);

    std::vector<std::string> header = {"PORT"};
    for (int id = LIUDRV_EVENT_LOS; id <= LIUDRV_EVENT_EQ; ++id) {
        header.push_back(indicationName(id));
    }
    Table text(header);
    Json rows = Json::array();
    for (unsigned port = 0; port < polledPorts(); ++port) {
        std::vector<std::string> cells = {std::to_string(port)};
        Json row = Json::object().set("port", port);
        for (int id = LIUDRV_EVENT_LOS; id <= LIUDRV_EVENT_EQ; ++id) {
            const std::int32_t state = table[port][id];
            cells.push_back(state == LIUDRV_ALARM_INITIAL ? "-" : alarmStateName(state));
            row.set(indicationName(id), alarmStateName(state));
        }
        text.add(cells);
        rows.push(std::move(row));
    }
    if (out_.json()) {
        out_.emit(Json::object().set("command", "poll").set("result", 0).set("ports", rows));
    } else {
        out_.text("alarm states (- not seen active since start-up):\n" + text.render());
    }
}

void Session::watch(const Args& args) {
    const double interval = args.has(1) ? parseSeconds(args, 1, "interval", 0.01, 3600) : 1.0;
    const long count = args.has(2) ? parseInteger(args, 2, "count", 0, 1000000000L) : 0;
    args.noMoreThan(2);
    requireInit(args);

    struct Change {
        int wentActive = 0;
        std::int32_t state = LIUDRV_ALARM_INITIAL;
        std::string since;
    };
    std::map<std::pair<unsigned, int>, Change> changes; // by port, then indication
    AlarmTable previous = lastPoll_ ? *lastPoll_ : initialTable();

    if (!out_.json()) {
        char line[128];
        std::snprintf(line, sizeof line, "watching alarms: a poll every %g s, %s\n", interval,
                      count == 0 ? "until Ctrl-C" : (std::to_string(count) + " polls").c_str());
        out_.text(line);
    }
    InterruptScope interruptScope;
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    long polls = 0;
    for (long i = 0; count == 0 || i < count; ++i) {
        if (i > 0 && !sleepUntil(addSeconds(start, interval * static_cast<double>(i)))) {
            break;
        }
        AlarmTable now;
        pollOnce("watch", now);
        ++polls;
        const std::string stamp = utcTimestamp(std::chrono::system_clock::now());
        for (unsigned port = 0; port < polledPorts(); ++port) {
            for (int id = LIUDRV_EVENT_LOS; id <= LIUDRV_EVENT_EQ; ++id) {
                const std::int32_t state = now[port][id];
                if (state == previous[port][id]) {
                    continue;
                }
                Change& change = changes[{port, id}];
                change.wentActive += state == LIUDRV_ALARM_ACTIVE ? 1 : 0;
                change.state = state;
                change.since = stamp;
                if (out_.json()) {
                    out_.emit(Json::object()
                                  .set("event", "alarm")
                                  .set("time", stamp)
                                  .set("port", port)
                                  .set("indication", indicationName(id))
                                  .set("state", alarmStateName(state)));
                } else {
                    char line[96];
                    std::snprintf(line, sizeof line, "%s  port %-2u  %-4s  %s\n", stamp.c_str(),
                                  port, indicationName(id), alarmStateName(state).c_str());
                    out_.text(line);
                }
            }
        }
        previous = now;
    }

    Table summary({"PORT", "INDICATION", "WENT ACTIVE", "NOW", "SINCE"});
    Json rows = Json::array();
    for (const auto& [key, change] : changes) {
        const auto [port, id] = key;
        summary.add({std::to_string(port), indicationName(id), std::to_string(change.wentActive),
                     alarmStateName(change.state), change.since});
        rows.push(Json::object()
                      .set("port", port)
                      .set("indication", indicationName(id))
                      .set("wentActive", change.wentActive)
                      .set("state", alarmStateName(change.state))
                      .set("since", change.since));
    }
    if (out_.json()) {
        out_.emit(Json::object()
                      .set("command", "watch")
                      .set("polls", polls)
                      .set("interrupted", interrupted != 0)
                      .set("changes", rows));
    } else if (changes.empty()) {
        out_.text("watch: " + std::to_string(polls) + " polls, no alarm changed\n");
    } else {
        out_.text("watch: " + std::to_string(polls) + " polls; alarms that changed:\n" +
                  summary.render());
    }
}

} // namespace liuctl
