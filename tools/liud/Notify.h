// SPDX-License-Identifier: MIT
// Notifications to the service manager (systemd's sd_notify): readiness,
// status, reloading, stopping and the watchdog.  Sent through libsystemd
// where liud is built with it (LIUD_SYSTEMD), otherwise by liud itself over
// the same datagram protocol.  Outside a Type=notify service (no
// NOTIFY_SOCKET) every call does nothing.
#pragma once

#include <chrono>
#include <string>

namespace liud::notify {

void ready(const std::string& status);
void status(const std::string& status);
void reloading();
void stopping();
// How often the watchdog must hear from liud (half the service's
// WatchdogSec), or zero when no watchdog is set.
std::chrono::microseconds watchdogInterval();
void watchdog();

} // namespace liud::notify
