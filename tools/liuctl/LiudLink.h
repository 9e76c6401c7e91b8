// SPDX-License-Identifier: MIT
// LiudLink: liuctl attached to a running liud over its control socket.  The
// commands that run at the chip go to liud as one line each and come back as
// one JSON result (a streaming command's events come first); liuctl never
// opens the chip then.  The other commands (sleep, echo, help, quit) run in
// liuctl itself.
#pragma once

#include "ChipNames.h"
#include "LineSocket.h"
#include "Runner.h"

#include <string>

namespace liuctl {

class LiudLink : public Runner {
  public:
    // Connects; throws liucmd::Failure naming the path and the reason, or
    // with liud's own refusal (too many clients).
    LiudLink(const std::string& path, const Printer& printer);
    LiudLink(const LiudLink&) = delete;
    LiudLink& operator=(const LiudLink&) = delete;

    Json run(const std::vector<std::string>& words) override;
    unsigned portCount() const override { return ports_; }

  private:
    // Connects; false with why set when liud is not there.
    bool connect(std::string& why);

    std::string path_;
    const Printer& printer_;
    liutool::LineSocket socket_;
    unsigned ports_ = liucmd::kChipPorts;
    bool attached_ = false; // liud took the first request
};

} // namespace liuctl
