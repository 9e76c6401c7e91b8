// SPDX-License-Identifier: MIT
// The control socket: a Unix stream socket whose clients send one request a
// line and read one JSON object a line.  All of it non-blocking, served from
// liud's single poll loop: a client never makes liud wait, and one that
// misbehaves is dropped without disturbing the others.
//
// Each client is known by its credentials (SO_PEERCRED, and its groups with
// SO_PEERGROUPS): it may change the chip when it is root, runs as liud's own
// user, or is a member of the control group; otherwise it may only read.
//
// Limits, so that no client can cost liud memory or time it does not give:
//  - a request line is at most kMaxLine bytes (a longer one gets an error
//    and the client is dropped), and liud reads no more from a client while
//    kMaxInput bytes of its requests wait (the kernel's socket buffer then
//    holds the client back);
//  - at most kMaxOutput bytes of answers wait for a client to read them (a
//    client that lets more pile up is dropped), and liud reads no new
//    request while half of that waits;
//  - at most kMaxClients clients at once: one more gets liud's refusal and
//    is closed;
//  - a client that sends nothing for the client timeout and does not watch
//    gets a closing answer and is closed, so idle connections cannot hold
//    every slot;
//  - a client that has closed its connection (not just its sending side)
//    is dropped with the requests it left unanswered: they are not run.
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
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kMaxLine = 4096;
    static constexpr std::size_t kMaxInput = 2 * kMaxLine;
    static constexpr std::size_t kMaxOutput = 64 * 1024;
    static constexpr std::size_t kMaxClients = 128;

    struct Client {
        int fd = -1;
        unsigned id = 0;
        // Its credentials, and whether it may change the chip.
        pid_t pid = 0;
        uid_t uid = 0;
        bool mayConfigure = false;
        Clock::time_point lastHeard{}; // its connection or its last request
        std::string input;             // received, not yet taken as requests
        std::string output;            // answers not yet sent
        bool closing = false;          // close once output is sent
        bool gone = false;             // drop now
        bool ended = false;            // the client sent its last byte
        // A watch: events go to the client until the deadline or its next line.
        bool watching = false;
        std::optional<std::chrono::steady_clock::time_point> watchUntil;
        double watchSeconds = 0;
        liucmd::WatchSummary watchSummary;
    };

    // Listens at path with mode and group (a stale socket there is
    // replaced; a live one is not).  Throws std::runtime_error.
    ControlServer(std::string path, mode_t mode, std::optional<gid_t> group);

    // Who may change the chip besides root and liud's own user (a reload
    // may change it; clients connected before keep their right).
    void setControlGroup(std::optional<gid_t> group) { controlGroup_ = group; }
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
    bool takeLine(Client& client, std::string& line);
    // Queues one line for a client (dropping it when it does not read).
    void send(Client& client, const std::string& line);
    // Closes the clients that are done.
    void reap();
    // Answers and closes the clients idle for timeout (not watching, no
    // request waiting); the next time one may be, if any client can.
    std::optional<Clock::time_point> closeIdle(Clock::time_point now, Clock::duration timeout);
    // True when the client has closed its connection: its requests are not run.
    static bool hungUp(const Client& client);

    std::list<Client>& clients() { return clients_; }
    std::size_t count() const { return clients_.size(); }

  private:
    void accept();
    void receive(Client& client);
    // Refuses and closes a client whose next line is longer than kMaxLine.
    void refuseLongLine(Client& client);
    void flush(Client& client);

    std::string path_;
    std::optional<gid_t> controlGroup_;
    int listener_ = -1;
    unsigned nextId_ = 1;
    std::list<Client> clients_;
};

} // namespace liud
