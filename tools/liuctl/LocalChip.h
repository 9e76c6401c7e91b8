// SPDX-License-Identifier: MIT
// LocalChip: liuctl standalone, the driver library in liuctl's own process
// (bring-up without liud).  It keeps what must outlive a command: the alarm
// table of the last poll.
#pragma once

#include "ChipDevice.h"
#include "Runner.h"

#include <optional>

namespace liuctl {

class LocalChip : public liucmd::Context, public Runner {
  public:
    explicit LocalChip(const Printer& printer) : printer_(printer) {}

    // Runner
    Json run(const std::vector<std::string>& words) override;
    unsigned portCount() const override;

    // Context
    int init(const liucmd::Args& args, int inoutType, int ports) override;
    void setInOut(const liucmd::Args& args, int inoutType) override;
    int configure(const liucmd::Args& args, const liucmd::Setting& setting, std::uint16_t port,
                  int value) override;
    int setRefClock(const liucmd::Args& args, bool outputA, std::uint16_t port) override;
    int writeRegister(const liucmd::Args& args, std::uint8_t reg, std::uint16_t channel,
                      std::uint8_t value) override;
    int dumpPulseShape(const liucmd::Args& args, std::uint16_t port,
                       std::string& printout) override;
    const liucmd::AlarmSnapshot* lastPoll() const override;
    const liucmd::AlarmSnapshot& poll(const liucmd::Args& args) override;
    void watch(const liucmd::Args& args, double seconds, Json& result) override;
    liuproto::Status status(const liucmd::Args& args,
                            const std::vector<std::uint16_t>& ports) override;
    bool interrupted() const override { return interrupts::interrupted != 0; }

  private:
    const Printer& printer_;
    std::optional<liucmd::AlarmSnapshot> lastPoll_;
    liucmd::ChipLock lock_; // taken by init, held until liuctl ends
};

} // namespace liuctl
