// SPDX-License-Identifier: MIT
// liu-snmp's side of liud's control socket: two connections, one holding a
// `watch` open for the alarm events, one for requests (status, set) answered
// in turn.  Both fail together: when either breaks, liud is gone and both
// are closed.
#pragma once

#include "Protocol.h"
#include "LineSocket.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace liusnmp {

using liuproto::Json;

class LiudClient {
  public:
    explicit LiudClient(std::string path) : path_(std::move(path)) {}
    ~LiudClient() { close(); }
    LiudClient(const LiudClient&) = delete;
    LiudClient& operator=(const LiudClient&) = delete;

    const std::string& path() const { return path_; }
    bool connected() const { return watch_.isOpen(); }
    // Connects both and starts the watch; false with error set when liud
    // is not there.
    bool connect(std::string& error);
    void close();

    // The watch connection, for the caller's select().
    int watchFd() const { return watch_.fd(); }
    // Takes what the watch connection has: the event objects, in order.
    // False when liud has gone (the connection is then closed).
    bool readEvents(std::vector<Json>& events);

    // One request and its answer; nothing when liud is gone or does not
    // answer within timeout (the connections are then closed).
    std::optional<Json> request(const std::string& line, std::chrono::milliseconds timeout);

  private:
    std::string path_;
    liutool::LineSocket watch_;
    liutool::LineSocket requests_;
};

} // namespace liusnmp
