// SPDX-License-Identifier: MIT
#include "Notify.h"

#ifdef LIUD_SYSTEMD
#include <systemd/sd-daemon.h>
#include <time.h>
#endif

namespace liud::notify {

#ifdef LIUD_SYSTEMD

void ready(const std::string& status) {
    sd_notifyf(0, "READY=1\nSTATUS=%s", status.c_str());
}

void status(const std::string& status) {
    sd_notifyf(0, "STATUS=%s", status.c_str());
}

void reloading() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    sd_notifyf(0, "RELOADING=1\nMONOTONIC_USEC=%llu",
               static_cast<unsigned long long>(now.tv_sec) * 1000000ULL +
                   static_cast<unsigned long long>(now.tv_nsec / 1000));
}

void stopping() {
    sd_notify(0, "STOPPING=1\nSTATUS=stopping");
}

std::chrono::microseconds watchdogInterval() {
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? std::chrono::microseconds(usec / 2)
                                             : std::chrono::microseconds(0);
}

void watchdog() {
    sd_notify(0, "WATCHDOG=1");
}

#else

void ready(const std::string&) {}
void status(const std::string&) {}
void reloading() {}
void stopping() {}
std::chrono::microseconds watchdogInterval() {
    return std::chrono::microseconds(0);
}
void watchdog() {}

#endif

} // namespace liud::notify
