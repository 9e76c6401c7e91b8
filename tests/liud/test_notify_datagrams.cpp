// SPDX-License-Identifier: MIT
// liud's notifications built without libsystemd: the datagrams reach a
// socket of the test's own, named by NOTIFY_SOCKET as systemd names it, and
// the watchdog interval follows WATCHDOG_USEC and WATCHDOG_PID.
#include "Notify.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A datagram socket bound to NAME ('@' for the abstract namespace), with a
// receive timeout so that a datagram that never comes fails the test.
class NotifySocket {
  public:
    explicit NotifySocket(const std::string& name) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.data(), name.size());
        if (name[0] == '@') {
            address.sun_path[0] = '\0';
        }
        const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
        const timeval timeout{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), size) == 0;
        ::setenv("NOTIFY_SOCKET", name.c_str(), 1);
    }
    ~NotifySocket() {
        ::unsetenv("NOTIFY_SOCKET");
        ::close(fd_);
    }
    bool bound() const { return bound_; }
    std::string next() {
        char buffer[4096];
        const ssize_t size = ::recv(fd_, buffer, sizeof buffer, 0);
        return size < 0 ? "(nothing received)"
                        : std::string(buffer, static_cast<std::size_t>(size));
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

TEST(NotifyWithoutLibsystemd, EveryMessageReachesAPathSocket) {
    char directory[] = "/tmp/liud-notify-XXXXXX";
    ASSERT_NE(::mkdtemp(directory), nullptr);
    const std::string path = std::string(directory) + "/notify";
    {
        NotifySocket socket(path);
        ASSERT_TRUE(socket.bound());
        liud::notify::ready("8 ports configured");
        EXPECT_EQ(socket.next(), "READY=1\nSTATUS=8 ports configured");
        liud::notify::status("auditing");
        EXPECT_EQ(socket.next(), "STATUS=auditing");
        liud::notify::reloading();
        EXPECT_THAT(socket.next(),
                    testing::MatchesRegex("RELOADING=1\nMONOTONIC_USEC=[1-9][0-9]*"));
        liud::notify::watchdog();
        EXPECT_EQ(socket.next(), "WATCHDOG=1");
        liud::notify::stopping();
        EXPECT_EQ(socket.next(), "STOPPING=1\nSTATUS=stopping");
    }
    ::unlink(path.c_str());
    ::rmdir(directory);
}

TEST(NotifyWithoutLibsystemd, AbstractNameIsExactlyTheNameAfterTheAt) {
    // A name padded with zero bytes would be another abstract name: the
    // datagram would not arrive.
    NotifySocket socket("@liud-notify-test-" + std::to_string(::getpid()));
    ASSERT_TRUE(socket.bound());
    liud::notify::watchdog();
    EXPECT_EQ(socket.next(), "WATCHDOG=1");
}

TEST(NotifyWithoutLibsystemd, WatchdogIntervalIsHalfTheTimeoutForThisProcess) {
    using std::chrono::microseconds;
    ::unsetenv("WATCHDOG_PID");
    ::unsetenv("WATCHDOG_USEC");
    EXPECT_EQ(liud::notify::watchdogInterval(), microseconds(0)) << "no watchdog";
    ::setenv("WATCHDOG_USEC", "10000000", 1);
    EXPECT_EQ(liud::notify::watchdogInterval(), microseconds(5000000)) << "no WATCHDOG_PID";
    ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
    EXPECT_EQ(liud::notify::watchdogInterval(), microseconds(5000000)) << "this process";
    ::setenv("WATCHDOG_PID", std::to_string(::getpid() + 1).c_str(), 1);
    EXPECT_EQ(liud::notify::watchdogInterval(), microseconds(0)) << "another process";
    ::unsetenv("WATCHDOG_PID");
    for (const char* bad : {"", "10s", "-5", " 10", "99999999999999999999999"}) {
        ::setenv("WATCHDOG_USEC", bad, 1);
        EXPECT_EQ(liud::notify::watchdogInterval(), microseconds(0)) << "WATCHDOG_USEC=" << bad;
    }
    ::unsetenv("WATCHDOG_USEC");
}

} // namespace
