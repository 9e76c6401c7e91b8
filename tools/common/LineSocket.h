// SPDX-License-Identifier: MIT
// A client's connection to a Unix stream socket that carries lines: liud's
// control socket, where each request goes out as one line and each answer
// and event comes back as one JSON object a line.
#pragma once

#include <sys/un.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace liutool {

// The longest path a Unix socket address holds.
inline constexpr std::size_t kMaxSocketPath = sizeof(sockaddr_un::sun_path) - 1;

inline bool fitsSocketAddress(const std::string& path) {
    return path.size() <= kMaxSocketPath;
}

class LineSocket {
  public:
    enum class Read { Line, TimedOut, Ended };

    LineSocket() = default;
    ~LineSocket() { close(); }
    LineSocket(const LineSocket&) = delete;
    LineSocket& operator=(const LineSocket&) = delete;

    // Connects to the socket at path.  False, with error set to "PATH:
    // reason" and errno to the cause (ENAMETOOLONG: the path does not fit a
    // socket address), when nobody listens there.
    bool connect(const std::string& path, std::string& error);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    // For the caller's select() or poll().
    int fd() const { return fd_; }

    // Sends all of text; false when the other end has gone.
    bool send(std::string_view text);

    // Takes in what has come, without waiting.  False when the other end
    // has ended the connection (or it broke); the lines that came before
    // stay to be taken.
    bool receive();

    // The next whole line received, without its newline.
    bool takeLine(std::string& line);

    // The next line, waiting for it up to timeout (negative: without
    // limit).  beforeWait runs before each wait for more input, and again
    // after a signal has interrupted one, e.g. to look at a flag the signal
    // handler sets.
    Read readLine(std::string& line, std::chrono::milliseconds timeout,
                  const std::function<void()>& beforeWait = {});

  private:
    int fd_ = -1;
    bool ended_ = false;
    std::string input_;
};

} // namespace liutool
