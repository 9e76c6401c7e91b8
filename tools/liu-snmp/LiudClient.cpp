// SPDX-License-Identifier: MIT
#include "LiudClient.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace liusnmp {

namespace {

int connectTo(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = path + ": path too long";
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
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

// Appends what fd has to input; false at the end of the connection or on an error.
bool receive(int fd, std::string& input) {
    char buffer[16384];
    while (true) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) {
            input.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
}

// The next complete line of input, parsed; nothing when there is none.
// Throws Json::parse_error for a line that is not JSON.
std::optional<Json> takeLine(std::string& input) {
    const std::size_t newline = input.find('\n');
    if (newline == std::string::npos) {
        return std::nullopt;
    }
    Json value = Json::parse(input.substr(0, newline));
    input.erase(0, newline + 1);
    return value;
}

} // namespace

bool LiudClient::connect(std::string& error) {
    close();
    watch_ = connectTo(path_, error);
    if (watch_ < 0) {
        return false;
    }
    requests_ = connectTo(path_, error);
    if (requests_ < 0 || !sendAll(watch_, "watch\n")) {
        error = error.empty() ? path_ + ": liud closed the connection" : error;
        close();
        return false;
    }
    return true;
}

void LiudClient::close() {
    for (int* fd : {&watch_, &requests_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    watchInput_.clear();
    requestInput_.clear();
}

bool LiudClient::readEvents(std::vector<Json>& events) {
    if (!connected()) {
        return false;
    }
    const bool open = receive(watch_, watchInput_);
    try {
        while (auto line = takeLine(watchInput_)) {
            if (!line->contains("event")) {
                close(); // the watch ended: liud is going
                return false;
            }
            events.push_back(std::move(*line));
        }
    } catch (const Json::exception&) {
        close();
        return false;
    }
    if (!open) {
        close();
    }
    return open;
}

std::optional<Json> LiudClient::request(const std::string& line,
                                        std::chrono::milliseconds timeout) {
    if (!connected() || !sendAll(requests_, line + "\n")) {
        close();
        return std::nullopt;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool open = true;
    try {
        while (true) {
            if (auto answer = takeLine(requestInput_)) {
                return answer;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd entry{requests_, POLLIN, 0};
            const int ready =
                open && left.count() > 0 ? ::poll(&entry, 1, static_cast<int>(left.count())) : 0;
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                break;
            }
            open = receive(requests_, requestInput_);
        }
    } catch (const Json::exception&) {
    }
    close();
    return std::nullopt;
}

} // namespace liusnmp
