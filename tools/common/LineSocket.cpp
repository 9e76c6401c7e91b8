// SPDX-License-Identifier: MIT
#include "LineSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace liutool {

bool LineSocket::connect(const std::string& path, std::string& error) {
    close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (!fitsSocketAddress(path)) {
        error = path + ": path too long";
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 ||
        ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int cause = errno;
        error = path + ": " + std::strerror(cause);
        close();
        errno = cause;
        return false;
    }
    return true;
}

void LineSocket::close() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    ended_ = false;
    input_.clear();
}

bool LineSocket::send(std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t sent = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

bool LineSocket::receive() {
    char buffer[16384];
    while (!ended_) {
        const ssize_t got = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            input_.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            return true;
        }
        ended_ = true;
    }
    return false;
}

bool LineSocket::takeLine(std::string& line) {
    const std::size_t newline = input_.find('\n');
    if (newline == std::string::npos) {
        return false;
    }
    line = input_.substr(0, newline);
    input_.erase(0, newline + 1);
    return true;
}

LineSocket::Read LineSocket::readLine(std::string& line, std::chrono::milliseconds timeout,
                                      const std::function<void()>& beforeWait) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    while (!takeLine(line)) {
        if (ended_ || fd_ < 0) {
            return Read::Ended;
        }
        if (beforeWait) {
            beforeWait();
        }
        int wait = -1;
        if (timeout.count() >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return Read::TimedOut;
            }
            wait = static_cast<int>(std::min<long long>(left.count(), INT_MAX));
        }
        pollfd entry{fd_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, wait);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            return Read::TimedOut;
        }
        if (ready < 0) {
            ended_ = true;
        } else {
            receive();
        }
    }
    return Read::Line;
}

} // namespace liutool
