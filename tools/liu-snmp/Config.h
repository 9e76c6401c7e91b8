// SPDX-License-Identifier: MIT
// liu-snmp's configuration file (INI, read with libinih): where liud and the
// AgentX master are, the interface index of each line, what the library's
// two line codes stand for, and the per-port values the line interface
// cannot know.  Checked whole at start-up; every mistake is reported as
// FILE:LINE: reason.
#pragma once

#include "ChipNames.h"
#include "Protocol.h"

#include <array>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>

namespace liusnmp {

using liucmd::kChipPorts;
inline constexpr int kLineTypes = 3; // E1, T1, JT1: liud's names, in this order

// dsx1LineCoding values.
enum class LineCoding : int {
    Jbzs = 1,
    B8zs = 2,
    Hdb3 = 3,
    Zbtsi = 4,
    Ami = 5,
    Other = 6,
    B6zs = 7,
};

// ifIndex of port 0 unless the file says otherwise.  Linux numbers its
// interfaces from 1 up, one number for each interface ever created, so a
// base of a million stays clear of them even on a host that makes and
// removes virtual interfaces for years.
inline constexpr long kDefaultIfIndexBase = 1000000;

// dsx1TransmitClockSource values.
enum class ClockSource : int { Loop = 1, Local = 2, Through = 3, Adaptive = 4 };

struct PortSettings {
    std::optional<bool> trapEnabled;     // otherwise Config::trapEnabled
    std::optional<bool> linkTrapEnabled; // otherwise Config::linkTrapEnabled
    ClockSource clock = ClockSource::Loop;
    std::optional<long> lineLength; // meters; otherwise from liud's line length
};

struct Config {
    std::string path;
    std::string liudSocket = liuproto::kDefaultSocket;
    std::string agentx; // empty: net-snmp's default (unix:/var/agentx/master)
    std::chrono::seconds agentxPing{5};
    std::chrono::milliseconds statusInterval{10000};
    // ifIndex (and dsx1LineIndex) of port 0: far above the kernel's
    // interface indexes, which snmpd's ifTable shows beside the ports.
    long ifIndexBase = kDefaultIfIndexBase;
    bool trapEnabled = true;     // dsx1LineStatusChangeTrapEnable at start-up
    bool linkTrapEnabled = true; // ifLinkUpDownTrapEnable at start-up
    // [line code][line type]: the dsx1LineCoding each of the library's line
    // codes 1 and 2 stands for on E1, T1 and JT1 lines.
    std::array<std::array<LineCoding, kLineTypes>, 2> lineCodes{{
        {LineCoding::Hdb3, LineCoding::B8zs, LineCoding::B8zs},
        {LineCoding::Ami, LineCoding::Ami, LineCoding::Ami},
    }};
    std::array<PortSettings, kChipPorts> ports{};
};

// Every mistake of a file, one "FILE:LINE: reason" a line.
class BadConfig : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads and checks the whole file.  Throws BadConfig.
Config loadConfig(const std::string& path);

// The line type's column in Config::lineCodes: 0 E1, 1 T1, 2 JT1, or -1.
int lineTypeColumn(const std::string& lineType);

} // namespace liusnmp
