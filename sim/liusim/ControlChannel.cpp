// SPDX-License-Identifier: MIT
#include "ControlChannel.h"

#include "Command.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace liusim {
namespace {

constexpr std::size_t kMaxLine = 1024;
constexpr std::size_t kMaxClients = 16;

sockaddr_un socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        throw std::runtime_error("liusim: control socket path too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

std::runtime_error systemFailure(const std::string& what) {
    return std::runtime_error("liusim: " + what + ": " + std::strerror(errno));
}

void sendText(int fd, const std::string& text) {
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

// A socket at path is taken over only when nobody answers on it any more (one
// left behind by a liusim that was killed): a running liusim keeps its own.
void claimSocketPath(const std::string& path, const sockaddr_un& address) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) {
            return;
        }
        throw systemFailure("cannot use " + path);
    }
    if (!S_ISSOCK(status.st_mode)) {
        throw std::runtime_error("liusim: " + path + " exists and is not a socket");
    }
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0) {
        throw systemFailure("cannot create the control socket");
    }
    const int connected =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    close(probe);
    if (connected == 0 || error == EAGAIN) {
        throw std::runtime_error("liusim: " + path + ": in use by a running liusim");
    }
    if (error != ECONNREFUSED) {
        errno = error;
        throw systemFailure("cannot use " + path);
    }
    unlink(path.c_str());
}

} // namespace

std::string defaultControlPath() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtimeDir != nullptr && *runtimeDir != '\0' ? runtimeDir : "/tmp";
    return dir + "/liusim-" + std::to_string(getpid()) + ".sock";
}

ControlChannel::ControlChannel(std::string path, LiuModel& model)
    : path_(std::move(path)), model_(model) {
    const sockaddr_un address = socketAddress(path_);
    claimSocketPath(path_, address);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        throw systemFailure("cannot create the control socket");
    }
    struct stat status {};
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 4) != 0 || lstat(path_.c_str(), &status) != 0) {
        const auto failure = systemFailure("cannot listen at " + path_);
        close(listener_);
        throw failure;
    }
    socketFile_ = {status.st_dev, status.st_ino};
}

ControlChannel::~ControlChannel() {
    for (const Client& client : clients_) {
        close(client.fd);
    }
    close(listener_);
    // Removed only while it is still this server's socket.
    struct stat status {};
    if (lstat(path_.c_str(), &status) == 0 && status.st_dev == socketFile_.first &&
        status.st_ino == socketFile_.second) {
        unlink(path_.c_str());
    }
}

void ControlChannel::addTo(std::vector<pollfd>& pollSet) const {
    pollSet.push_back({listener_, POLLIN, 0});
    for (const Client& client : clients_) {
        pollSet.push_back({client.fd, POLLIN, 0});
    }
}

void ControlChannel::serve(std::span<const pollfd> pollSet) {
    std::vector<int> finished;
    for (const pollfd& entry : pollSet) {
        if (entry.revents == 0) {
            continue;
        }
        if (entry.fd == listener_) {
            accept();
            continue;
        }
        const auto client = std::find_if(clients_.begin(), clients_.end(),
                                         [&](const Client& c) { return c.fd == entry.fd; });
        if (client != clients_.end() && !receive(*client)) {
            finished.push_back(entry.fd);
        }
    }
    for (const int fd : finished) {
        drop(fd);
    }
}

void ControlChannel::accept() {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (clients_.size() == kMaxClients) {
        sendText(fd, "error: too many control connections\n");
        close(fd);
        return;
    }
    clients_.push_back({fd, {}});
}

bool ControlChannel::receive(Client& client) {
    char buffer[512];
    const ssize_t n = recv(client.fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        if (!client.pending.empty()) {
            answer(client, client.pending);
        }
        return false;
    }
    client.pending.append(buffer, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = client.pending.find('\n')) != std::string::npos) {
        const std::string line = client.pending.substr(0, end);
        client.pending.erase(0, end + 1);
        answer(client, line);
    }
    if (client.pending.size() > kMaxLine) {
        sendText(client.fd, "error: line longer than " + std::to_string(kMaxLine) + " bytes\n");
        return false;
    }
    return true;
}

void ControlChannel::answer(const Client& client, const std::string& line) {
    try {
        Command::parse(line).apply(model_);
        sendText(client.fd, "ok\n");
    } catch (const std::exception& error) {
        sendText(client.fd, std::string("error: ") + error.what() + "\n");
    }
}

void ControlChannel::drop(int fd) {
    close(fd);
    std::erase_if(clients_, [fd](const Client& client) { return client.fd == fd; });
}

int sendControlCommand(const std::string& path, const std::string& command) {
    try {
        const sockaddr_un address = socketAddress(path);
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 ||
            connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const auto failure = systemFailure("cannot reach liusim at " + path);
            if (fd >= 0) {
                close(fd);
            }
            throw failure;
        }
        sendText(fd, command + "\n");
        shutdown(fd, SHUT_WR);
        std::string reply;
        char buffer[256];
        ssize_t n;
        while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) {
            reply.append(buffer, static_cast<std::size_t>(n));
        }
        close(fd);
        if (reply == "ok\n") {
            return 0;
        }
        const std::string message = reply.rfind("error: ", 0) == 0 ? reply.substr(7) : reply;
        std::fprintf(stderr, "liusim: %s%s", message.empty() ? "no answer" : message.c_str(),
                     message.empty() || message.back() != '\n' ? "\n" : "");
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}

} // namespace liusim
