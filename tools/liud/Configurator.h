// SPDX-License-Identifier: MIT
// Configurator: puts a port's configuration on the chip through the
// library, in an order that leaves every setting as configured, and reads
// it back to find what differs.
//
// Order per port: the line type, then its build-out or line length right
// after it (the template code those write follows the line type requested
// last, for any port), then the line code (a line type configuration
// clears it), haul, loopbacks, power.  Hence a build-out or line length is
// never applied without its port's line type just before, and a line type
// never without the port's line code after it.
#pragma once

#include "ChipNames.h"
#include "Config.h"
#include "Log.h"

#include <array>
#include <string>
#include <vector>

namespace liud {

using liutool::Log;
using liutool::Priority;

// A port's settings as the chip holds them.
struct PortReadBack {
    bool complete = false;                    // no transfer failed
    liucmd::LineRegisters line{};             // registers 0x20 bit 0, 0x32, 0x23
    std::array<int, kSettingCount> values{};  // what the library's get operations read, or -1
    std::array<int, kSettingCount> results{}; // their results: -1 registers the library
                                              // cannot decode, 1 a failed transfer
};

class Configurator {
  public:
    explicit Configurator(const Log& log) : log_(log) {}

    // The settings to apply for a change of mask on a port (see the order above).
    static SettingMask expand(SettingMask mask, const PortConfig& port);
    // Every setting of a port, as a drifted port needs them.
    static SettingMask everything();

    // What start-up applies for config, for people (liud --check): the
    // interface and timing, then per port its settings in the order they are
    // applied, then the reference clocks.
    static std::vector<std::string> plan(const Config& config);

    // Applies the settings of mask (already expanded) to port, logging each
    // step that failed.  Returns 0, or the library result of the first
    // failed step.
    int apply(unsigned port, const PortConfig& config, SettingMask mask) const;
    // Reference clock outputs; 0 or the first failed step's result.
    int applyRefClocks(const Config& config) const;
    // Every port's settings as the file gives them, then the reference
    // clocks (start-up: the library gave every port its defaults).
    void applyAll(const Config& config) const;

    // Reads a port's settings back: three registers and the library's get
    // operations (11 transfers).
    static PortReadBack readBack(unsigned port);
    // What differs between config and the chip, one phrase each
    // ("line code 2, the chip has 1").
    static std::vector<std::string> differences(const PortConfig& config, int inout,
                                                const PortReadBack& chip);
    // Reference clock outputs that differ from the configuration; false
    // when register 0x07 could not be read.
    static bool refClockDifferences(const Config& config, std::vector<std::string>& differences);

    // Reads ports back and logs what differs from config ("start-up: port
    // 2 is not as configured: ..."), and the reference clocks.
    void verify(const char* when, const Config& config, const std::vector<unsigned>& ports) const;
    // Reads every port back; applies the whole configuration of a port that
    // differs again and reads it back once more, and the reference clocks.
    // Logs each step; the number of ports repaired.
    unsigned audit(const Config& config) const;
    // Applies what changes from running to next (a reload), port by port,
    // with the order above; the ports changed.
    std::vector<unsigned> reload(const Config& running, const Config& next) const;

  private:
    const Log& log_;
};

} // namespace liud
