// SPDX-License-Identifier: MIT
#include "LiudLink.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace liuctl {

namespace {

// Longest wait for an answer that is not a watch's.
constexpr int kAnswerTimeoutMs = 30000;

} // namespace

LiudLink::LiudLink(const std::string& path, const Printer& printer)
    : path_(path), printer_(printer) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        throw liucmd::Failure("socket path too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
        throw liucmd::Failure("cannot connect to liud at " + path + ": " + std::strerror(error) +
                              (error == ENOENT || error == ECONNREFUSED
                                   ? " (is liud running? --standalone runs the library in liuctl)"
                                   : ""));
    }
    const Json state = run({"state"});
    if (state.value("ok", false)) {
        ports_ = state.value("liuDrv_maxPorts", 8u);
    }
}

LiudLink::~LiudLink() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool LiudLink::send(const std::string& line) {
    std::size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t n = ::send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool LiudLink::receive(std::string& line, bool stopOnInterrupt) {
    bool stopSent = false;
    while (true) {
        const std::size_t newline = pending_.find('\n');
        if (newline != std::string::npos) {
            line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return true;
        }
        if (stopOnInterrupt && !stopSent && interrupts::interrupted != 0) {
            // Ctrl-C ends a watch: any line from the client does.
            stopSent = send("\n");
        }
        pollfd ready{fd_, POLLIN, 0};
        const int n = ::poll(&ready, 1, stopOnInterrupt ? -1 : kAnswerTimeoutMs);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n == 0) {
            errno = ETIMEDOUT;
            return false;
        }
        char buffer[4096];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            errno = got == 0 ? ECONNRESET : errno;
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

Json LiudLink::run(const std::vector<std::string>& words) {
    const liucmd::CommandEntry* entry = words.empty() ? nullptr : liucmd::findCommand(words[0]);
    if (entry != nullptr && entry->where != liucmd::Where::Chip) {
        ClientContext local;
        return liucmd::runCommand(local, words);
    }
    const std::string name = entry != nullptr ? entry->name : "";
    if (fd_ < 0 || !send(liucmd::joinWords(words) + "\n")) {
        return liucmd::errorResult(name, "liud at " + path_ + " has gone", liucmd::kExitFailure);
    }
    const bool watch = name == "watch";
    std::string line;
    while (receive(line, watch)) {
        Json answer = Json::parse(line, nullptr, false);
        if (answer.is_discarded() || !answer.is_object()) {
            return liucmd::errorResult(name, "liud answered something that is not JSON: " + line,
                                       liucmd::kExitFailure);
        }
        if (answer.contains("event")) {
            printer_.event(answer);
            continue;
        }
        return answer;
    }
    const std::string reason = errno == ETIMEDOUT ? "did not answer" : "closed the connection";
    close(fd_);
    fd_ = -1;
    return liucmd::errorResult(name, "liud at " + path_ + " " + reason, liucmd::kExitFailure);
}

} // namespace liuctl
