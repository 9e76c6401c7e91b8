// SPDX-License-Identifier: MIT
// The control channel of a running liusim: a unix stream socket taking one
// command (see Command.h) per line and answering each line with "ok" or
// "error: MESSAGE".  Any number of lines may be sent on one connection, so
// tools like socat work as well as `liusim ctl`.
#pragma once

#include "LiuModel.h"

#include <poll.h>
#include <sys/types.h>

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace liusim {

// $XDG_RUNTIME_DIR/liusim-PID.sock, or /tmp/liusim-PID.sock without it.
std::string defaultControlPath();

class ControlChannel {
  public:
    // Listens at path.  A socket left there by a liusim that is gone is
    // replaced; one that a running liusim answers on is not ("PATH: in use by
    // a running liusim").  Throws std::runtime_error when it cannot listen.
    // The socket file is removed again when the server ends.
    ControlChannel(std::string path, LiuModel& model);
    ~ControlChannel();
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    const std::string& path() const { return path_; }

    // Adds the descriptors the server waits on to a poll set.
    void addTo(std::vector<pollfd>& pollSet) const;
    // Serves whatever poll reported ready on the server's descriptors.
    void serve(std::span<const pollfd> pollSet);

  private:
    struct Client {
        int fd;
        std::string pending; // received text not ended by a newline yet
    };

    void accept();
    bool receive(Client& client); // false when the connection is done
    void answer(const Client& client, const std::string& line);
    void drop(int fd);

    std::string path_;
    LiuModel& model_;
    int listener_ = -1;
    std::pair<dev_t, ino_t> socketFile_; // the file bind() created at path_
    std::vector<Client> clients_;
};

// Sends one command line to the liusim listening at path and prints an
// error answer on stderr.  Returns 0 for "ok", 1 otherwise.
int sendControlCommand(const std::string& path, const std::string& command);

} // namespace liusim
