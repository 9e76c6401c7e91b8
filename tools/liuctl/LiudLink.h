// SPDX-License-Identifier: MIT
// LiudLink: liuctl attached to a running liud over its control socket.  The
// commands that reach the chip go to liud as one line each and come back as
// one JSON result (a watch streams event lines first); liuctl never opens
// the chip then.  sleep, echo, help and quit run in liuctl itself.
#pragma once

#include "LineSocket.h"
#include "Runner.h"

#include <string>

namespace liuctl {

// liud's default control socket.
inline constexpr const char* kDefaultSocket = "/run/liud/liud.sock";

class LiudLink : public Runner {
  public:
    // Connects; throws liucmd::Failure naming the path and the reason.
    LiudLink(const std::string& path, const Printer& printer);
    LiudLink(const LiudLink&) = delete;
    LiudLink& operator=(const LiudLink&) = delete;

    Json run(const std::vector<std::string>& words) override;
    unsigned portCount() const override { return ports_; }

  private:
    std::string path_;
    const Printer& printer_;
    liutool::LineSocket socket_;
    unsigned ports_ = 8;
};

} // namespace liuctl
