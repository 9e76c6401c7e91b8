// SPDX-License-Identifier: MIT
// BusHealth: whether the chip answers, as liud's polls of it show.  A poll
// whose every transfer failed means the chip stopped answering (a dead bus,
// a chip without power): one error line with the count and the time of the
// first failure.  A poll without a failed transfer means it answers again:
// one notice.  Failed transfers in between, or single ones on a bus that
// works, are counted and summarised in at most one line a minute, never
// logged one by one.  What liud publishes while the chip is silent is what
// it saw last, marked unknown: a failed transfer is a bus fault, never a
// line alarm.
#pragma once

#include "Log.h"
#include "Protocol.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace liud {

class BusHealth {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kSummaryInterval{60};

    explicit BusHealth(const liutool::Log& log) : log_(log) {}

    // What a poll (or scan) of transfers frames showed: failed of them
    // failed.  The chip's event when it stopped or started answering.
    std::optional<liuproto::ChipEvent> observe(unsigned transfers, std::uint64_t failed,
                                               std::chrono::system_clock::time_point when);
    // Logs the transfers that failed since the last summary (polls, audits,
    // control requests alike), once a minute at most, and not while the chip
    // is silent: the line of its answering again says how many.
    void summarise(Clock::time_point now);

    bool answering() const { return answering_; }
    // Since when the chip answers or not; nothing: since start-up.
    const std::optional<std::string>& since() const { return since_; }

  private:
    const liutool::Log& log_;
    bool answering_ = true;
    std::optional<std::string> since_;
    // The failures of the run that made the chip silent, from its first.
    std::uint64_t failedInRun_ = 0;
    std::optional<std::string> runStart_;
    // The count of failed transfers the last summary covered, and when the
    // first failure after it was seen.
    std::uint64_t summarised_ = 0;
    std::optional<Clock::time_point> windowStart_;
};

} // namespace liud
