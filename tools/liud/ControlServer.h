// SPDX-License-Identifier: MIT
// The control socket: a Unix stream socket whose clients send one request a
// line and read one JSON object a line.  All of it non-blocking, served from
// liud's single poll loop: a client never makes liud wait, and one that
// misbehaves is dropped without disturbing the others.
//
// Limits: a request line is at most kMaxLine bytes (a longer one gets an
// error and the client is dropped); at most kMaxOutput bytes wait for a
// client to read them (a client that does not read is dropped); at most
// kMaxClients clients at once (one more gets an error and is closed).
#pragma once

#include "Alarms.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace liud {

class ControlServer {
  public:
    static constexpr std::size_t kMaxLine = 4096;
    static constexpr std::size_t kMaxOutput = 256 * 1024;
    static constexpr std::size_t kMaxClients = 128;

    struct Client {
        int fd = -1;
        unsigned id = 0;
        std::string input;    // received, not yet taken as requests
        std::string output;   // answers not yet sent
        bool closing = false; // close once output is sent
        bool gone = false;    // drop now
        bool ended = false;   // the client sent its last byte
        // A watch: events go to the client until the deadline or its next line.
        bool watching = false;
        std::optional<std::chrono::steady_clock::time_point> watchUntil;
        double watchSeconds = 0;
        liucmd::WatchSummary watchSummary;
    };

    // Listens at path with mode and group (a stale socket there is
    // replaced; a live one is not).  Throws std::runtime_error.
    ControlServer(std::string path, mode_t mode, std::optional<gid_t> group);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Mode and group again (a reload).  False with error set when refused.
    bool setAccess(mode_t mode, std::optional<gid_t> group, std::string& error);

    // Adds the listener and the clients to a poll set.
    void addTo(std::vector<pollfd>& pollSet) const;
    // Accepts, receives and sends what the poll set reports ready.
    void serve(const std::vector<pollfd>& pollSet);
    // The next complete request of a client; false when there is none.
    static bool takeLine(Client& client, std::string& line);
    // Queues one line for a client (dropping it when it does not read).
    void send(Client& client, const std::string& line);
    // Closes the clients that are done.
    void reap();

    std::list<Client>& clients() { return clients_; }
    std::size_t count() const { return clients_.size(); }

  private:
    void accept();
    void receive(Client& client);
    void flush(Client& client);

    std::string path_;
    int listener_ = -1;
    unsigned nextId_ = 1;
    std::list<Client> clients_;
};

} // namespace liud
