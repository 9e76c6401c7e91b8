// SPDX-License-Identifier: MIT
#include "Notify.h"

#include <cstdint>
#include <time.h>

#ifdef LIUD_SYSTEMD
#include <systemd/sd-daemon.h>
#else
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace liud::notify {

namespace {

#ifdef LIUD_SYSTEMD

void send(const std::string& message) {
    sd_notify(0, message.c_str());
}

// Microseconds of the service's watchdog, or 0 when it has none for liud.
std::uint64_t watchdogUsec() {
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}

#else

// The service manager's notification protocol without libsystemd: one
// datagram of newline-separated assignments to the AF_UNIX socket named by
// NOTIFY_SOCKET, a file system path or, with a leading '@', a name in the
// abstract namespace.  The kernel attaches liud's credentials, which is how
// systemd tells the main process (NotifyAccess=main).  Without the variable,
// or with an address this side cannot reach, nothing is sent: liud runs the
// same outside a Type=notify service.
void send(const std::string& message) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (name == nullptr || (name[0] != '/' && name[0] != '@')) {
        return;
    }
    const std::size_t length = std::strlen(name);
    sockaddr_un address{};
    if (length > sizeof address.sun_path) {
        return;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name, length);
    if (name[0] == '@') {
        address.sun_path[0] = '\0'; // abstract: the name is exactly the bytes that follow
    }
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
    while (::sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&address), size) < 0 &&
           errno == EINTR) {
    }
    ::close(fd);
}

// WATCHDOG_USEC holds the service's watchdog timeout; WATCHDOG_PID, when
// set, the process it is meant for (not a child that inherited it).
std::uint64_t watchdogUsec() {
    const char* usec = std::getenv("WATCHDOG_USEC");
    if (usec == nullptr) {
        return 0;
    }
    const char* pid = std::getenv("WATCHDOG_PID");
    if (pid != nullptr && std::string_view(pid) != std::to_string(::getpid())) {
        return 0;
    }
    if (*usec < '0' || *usec > '9') {
        return 0;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(usec, &end, 10);
    return errno == 0 && *end == '\0' ? value : 0;
}

#endif

} // namespace

void ready(const std::string& text) {
    send("READY=1\nSTATUS=" + text);
}

void status(const std::string& text) {
    send("STATUS=" + text);
}

void reloading() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto usec = static_cast<unsigned long long>(now.tv_sec) * 1000000ULL +
                      static_cast<unsigned long long>(now.tv_nsec / 1000);
    send("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(usec));
}

void stopping() {
    send("STOPPING=1\nSTATUS=stopping");
}

std::chrono::microseconds watchdogInterval() {
    return std::chrono::microseconds(watchdogUsec() / 2);
}

void watchdog() {
    send("WATCHDOG=1");
}

} // namespace liud::notify
