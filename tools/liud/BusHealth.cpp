// SPDX-License-Identifier: MIT
#include "BusHealth.h"

#include "Alarms.h"
#include "TraceTap.h"

namespace liud {

std::optional<liuproto::ChipEvent> BusHealth::observe(unsigned transfers, std::uint64_t failed,
                                                      std::chrono::system_clock::time_point when) {
    // Most observations change nothing: the time is written out only for those that do
    // (a scan every few milliseconds would otherwise spend most of its own work on it).
    const auto time = [when] { return liucmd::utcTimestamp(when); };
    if (failed > 0) {
        if (!runStart_) {
            runStart_ = time();
            failedInRun_ = 0;
        }
        failedInRun_ += failed;
    } else {
        runStart_.reset();
    }
    const bool silent = transfers > 0 && failed >= transfers;
    if (answering_ && silent) {
        answering_ = false;
        since_ = time();
        log_.write(liutool::Priority::Error,
                   "the chip does not answer: every transfer of a read of the alarms failed (" +
                       std::to_string(failedInRun_) + " failed transfers since " + *runStart_ +
                       "); alarms and settings stay as last seen, unknown, until it answers again");
        return liuproto::ChipEvent{false, *since_, failedTransfers()};
    }
    if (!answering_ && failed == 0) {
        answering_ = true;
        log_.write(liutool::Priority::Notice, "the chip answers again (silent since " + *since_ +
                                                  ", " + std::to_string(failedTransfers()) +
                                                  " failed transfers since start-up)");
        since_ = time();
        summarised_ = failedTransfers(); // in the line above
        windowStart_.reset();
        return liuproto::ChipEvent{true, *since_, failedTransfers()};
    }
    return std::nullopt;
}

void BusHealth::summarise(Clock::time_point now) {
    const std::uint64_t total = failedTransfers();
    if (!answering_ || total == summarised_) {
        return;
    }
    if (!windowStart_) {
        windowStart_ = now; // the first failure since the last summary
        return;
    }
    if (now - *windowStart_ < kSummaryInterval) {
        return;
    }
    log_.write(liutool::Priority::Warning,
               std::to_string(total - summarised_) +
                   " SPI transfers failed in the last minute (counted from the library's \"SPI "
                   "read failure!\" traces; " +
                   std::to_string(total) + " since start-up)");
    summarised_ = total;
    windowStart_.reset();
}

} // namespace liud
