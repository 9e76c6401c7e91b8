// SPDX-License-Identifier: MIT
#include "ControlServer.h"

#include "Commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace liud {

namespace {

sockaddr_un socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("cannot listen on " + path + ": path too long");
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

std::runtime_error failure(const std::string& what, const std::string& path) {
    return std::runtime_error("cannot " + what + " " + path + ": " + std::strerror(errno));
}

// True when gid is the group or one of the groups of the peer on fd.
bool peerInGroup(int fd, gid_t primary, gid_t group) {
    if (primary == group) {
        return true;
    }
    gid_t groups[256];
    socklen_t size = sizeof groups;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERGROUPS, groups, &size) != 0) {
        return false;
    }
    const std::size_t count = size / sizeof(gid_t);
    return std::find(groups, groups + count, group) != groups + count;
}

// True when a process answers at path.
bool inUse(const sockaddr_un& address) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answered = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address),
                                                sizeof address) == 0;
    if (probe >= 0) {
        close(probe);
    }
    return answered;
}

} // namespace

ControlServer::ControlServer(std::string path, mode_t mode, std::optional<gid_t> group)
    : path_(std::move(path)) {
    const sockaddr_un address = socketAddress(path_);
    struct stat existing {};
    if (lstat(path_.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            throw std::runtime_error("cannot listen on " + path_ +
                                     ": a file that is not a socket is there");
        }
        if (inUse(address)) {
            throw std::runtime_error("cannot listen on " + path_ +
                                     ": another process listens there");
        }
        unlink(path_.c_str());
    }
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        throw failure("create a socket for", path_);
    }
    // No moment with wider permissions than asked for.
    const mode_t previous = umask(0177);
    const int bound = bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    umask(previous);
    if (bound != 0 || listen(listener_, static_cast<int>(kMaxClients)) != 0) {
        const auto error = failure("listen on", path_);
        close(listener_);
        throw error;
    }
    std::string problem;
    if (!setAccess(mode, group, problem)) {
        close(listener_);
        unlink(path_.c_str());
        throw std::runtime_error(problem);
    }
}

ControlServer::~ControlServer() {
    for (auto& client : clients_) {
        close(client.fd);
    }
    if (listener_ >= 0) {
        close(listener_);
        unlink(path_.c_str());
    }
}

bool ControlServer::setAccess(mode_t mode, std::optional<gid_t> group, std::string& error) {
    if (group && chown(path_.c_str(), static_cast<uid_t>(-1), *group) != 0) {
        error = "cannot give " + path_ + " to group " + std::to_string(*group) + ": " +
                std::strerror(errno);
        return false;
    }
    if (chmod(path_.c_str(), mode) != 0) {
        error = "cannot set the mode of " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void ControlServer::addTo(std::vector<pollfd>& pollSet) const {
    pollSet.push_back({listener_, POLLIN, 0});
    for (const auto& client : clients_) {
        short events = 0;
        if (!client.ended && !client.closing && client.output.size() < kMaxOutput / 2 &&
            client.input.size() < kMaxInput) {
            events |= POLLIN;
        }
        if (!client.output.empty()) {
            events |= POLLOUT;
        }
        pollSet.push_back({client.fd, events, 0});
    }
}

void ControlServer::serve(const std::vector<pollfd>& pollSet) {
    for (const auto& entry : pollSet) {
        if (entry.revents == 0) {
            continue;
        }
        if (entry.fd == listener_) {
            accept();
            continue;
        }
        for (auto& client : clients_) {
            if (client.fd != entry.fd || client.gone) {
                continue;
            }
            if ((entry.revents & (POLLHUP | POLLERR)) != 0) {
                client.gone = true; // closed: nothing it asked for is run or sent
                continue;
            }
            if ((entry.revents & POLLOUT) != 0) {
                flush(client);
            }
            if ((entry.revents & POLLIN) != 0) {
                receive(client);
            }
        }
    }
}

void ControlServer::accept() {
    while (true) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return; // EAGAIN: no more; anything else: the client is gone already
        }
        Client client;
        client.fd = fd;
        client.id = nextId_++;
        client.lastHeard = Clock::now();
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
            client.pid = credentials.pid;
            client.uid = credentials.uid;
            client.mayConfigure =
                credentials.uid == 0 || credentials.uid == geteuid() ||
                (controlGroup_ && peerInGroup(fd, credentials.gid, *controlGroup_));
        }
        clients_.push_back(std::move(client));
        // Clients found gone in this turn are not reaped yet: they hold no slot.
        const auto live = std::count_if(clients_.begin(), clients_.end(),
                                        [](const Client& each) { return !each.gone; });
        if (static_cast<std::size_t>(live) > kMaxClients) {
            Client& refused = clients_.back();
            send(refused, liucmd::jsonLine(liuproto::failedAnswer(
                              "", "too many clients: " + std::to_string(kMaxClients) + " at most",
                              liucmd::kExitFailure)));
            refused.closing = true;
            flush(refused);
        }
    }
}

void ControlServer::receive(Client& client) {
    char buffer[4096];
    const ssize_t got = recv(client.fd, buffer, sizeof buffer, 0);
    if (got < 0) {
        client.gone = errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
        return;
    }
    if (got == 0) {
        client.ended = true; // the requests it sent complete are still answered
        return;
    }
    client.lastHeard = Clock::now();
    client.input.append(buffer, static_cast<std::size_t>(got));
    refuseLongLine(client);
}

void ControlServer::refuseLongLine(Client& client) {
    const std::size_t newline = client.input.find('\n');
    if ((newline == std::string::npos ? client.input.size() : newline) > kMaxLine) {
        client.input.clear();
        send(client, liucmd::jsonLine(liuproto::failedAnswer(
                         "", "request longer than " + std::to_string(kMaxLine) + " bytes",
                         liucmd::kExitUsage)));
        client.closing = true;
    }
}

bool ControlServer::takeLine(Client& client, std::string& line) {
    const std::size_t newline = client.input.find('\n');
    if (newline == std::string::npos || client.closing || client.gone) {
        return false;
    }
    line.assign(client.input, 0, newline);
    client.input.erase(0, newline + 1);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    refuseLongLine(client);
    return true;
}

bool ControlServer::hungUp(const Client& client) {
    pollfd entry{client.fd, 0, 0};
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR)) != 0;
}

void ControlServer::send(Client& client, const std::string& line) {
    if (client.gone) {
        return;
    }
    if (client.output.size() + line.size() + 1 > kMaxOutput) {
        client.gone = true; // it does not read what it asked for
        return;
    }
    client.output += line;
    client.output += '\n';
    flush(client);
}

void ControlServer::flush(Client& client) {
    while (!client.output.empty()) {
        const ssize_t sent = ::send(client.fd, client.output.data(), client.output.size(),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            client.gone = errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
            return;
        }
        client.output.erase(0, static_cast<std::size_t>(sent));
    }
}

void ControlServer::reap() {
    for (auto it = clients_.begin(); it != clients_.end();) {
        const bool idle = it->output.empty();
        // A client that ended its side while it watches still gets the
        // watch's events and its end.
        const bool done =
            it->gone || (it->closing && idle) ||
            (it->ended && idle && !it->watching && it->input.find('\n') == std::string::npos);
        if (done) {
            close(it->fd);
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

std::optional<ControlServer::Clock::time_point> ControlServer::closeIdle(Clock::time_point now,
                                                                         Clock::duration timeout) {
    std::optional<Clock::time_point> next;
    for (auto& client : clients_) {
        if (client.watching || client.closing || client.gone || !client.output.empty() ||
            client.input.find('\n') != std::string::npos) {
            continue;
        }
        const Clock::time_point deadline = client.lastHeard + timeout;
        if (deadline <= now) {
            char reason[96];
            std::snprintf(reason, sizeof reason,
                          "idle for %g s: liud closes the connection (nothing was asked for)",
                          std::chrono::duration<double>(timeout).count());
            send(client,
                 liucmd::jsonLine(liuproto::failedAnswer("", reason, liucmd::kExitFailure)));
            client.closing = true;
        } else if (!next || deadline < *next) {
            next = deadline;
        }
    }
    return next;
}

} // namespace liud
