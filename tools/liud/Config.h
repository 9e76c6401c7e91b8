// SPDX-License-Identifier: MIT
// liud's configuration: the INI file (read with libinih) and what it asks
// for, checked whole before liud touches the chip.  Every mistake has its
// own reason and the line it is on; nothing of a bad file is applied.
#pragma once

#include "ChipNames.h"
#include "IniFile.h"
#include "Protocol.h"
#include "Settings.h"

#include <sys/types.h>

#include <array>
#include <bitset>
#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace liud {

using liucmd::kSettingCount;
using liucmd::SettingId;
using SettingMask = std::bitset<kSettingCount>;

using liucmd::kChipPorts;

// One mistake: the line it is on (0 when it is about no line) and why.
using ConfigError = liutool::LineError;
// "FILE:LINE: reason" ("FILE: reason" for line 0).
using liutool::located;

// A configuration that cannot be used; what() is every error as
// "FILE:LINE: reason", one a line, in the order of the lines.
class BadConfig : public std::runtime_error {
  public:
    BadConfig(const std::string& path, std::vector<ConfigError> errors);
    const std::vector<ConfigError>& errors() const { return errors_; }

  private:
    std::vector<ConfigError> errors_;
};

// What one port is configured to be.  Settings not given keep what the
// library's start-up gives every port: E1, line code 1, haul 2, no loopback,
// transmitter and receiver down.
struct PortConfig {
    std::array<std::optional<int>, kSettingCount> explicitly{};
    // The line of the file each is on; 0 for one a control client set.
    std::array<int, kSettingCount> fileLines{};
    std::optional<std::string> framing; // none, crc4, mf, crc4-mf, plain / esf, d4, none
    std::string circuit;                // circuit identifier
    int framingFileLine = 0;

    // The value in force: given, or the start-up default (0: no build-out
    // or line length).
    int value(SettingId id) const;
    bool has(SettingId id) const { return explicitly[static_cast<std::size_t>(id)].has_value(); }
    int fileLine(SettingId id) const { return fileLines[static_cast<std::size_t>(id)]; }
};

struct Config {
    std::string path;
    int inout = 0;
    unsigned ports = kChipPorts;
    // The scan of the alarm status registers (0: none), and the library's
    // full alarm poll: when a scan saw a change, and at least every poll
    // interval (default 5 s beside a scan, 100 ms without).
    std::chrono::milliseconds scanInterval{10};
    std::chrono::milliseconds pollInterval{5000};
    std::chrono::milliseconds auditInterval{60000};     // 0: no audit
    std::array<std::optional<unsigned>, 2> refClocks{}; // outputs A and B
    std::array<int, 2> refClockFileLines{};             // 0: a control client's
    std::string socketPath = liuproto::kDefaultSocket;
    mode_t socketMode = 0660;
    std::optional<gid_t> socketGroup;
    // Who may change the chip through the socket besides root: the members
    // of this group (all others who can connect may only read).
    std::optional<gid_t> controlGroup;
    std::string controlGroupName;
    // Raw register writes through the socket (never the software reset).
    bool rawWrites = false;
    // A client that sends nothing for this long (and does not watch) is
    // closed.
    std::chrono::milliseconds clientTimeout{60000};
    std::string metricsPath; // empty: no metrics file
    // The metrics file is written after a change and at least this often,
    // so that its times tell a liud that stopped writing it.
    std::chrono::milliseconds metricsInterval{10000};
    std::vector<PortConfig> portConfigs;

    // Lines of the global keys a reload must not change.
    int portsLine = 0;
    int socketLine = 0;
    int inoutLine = 0;
};

// Reads and checks the whole file.  Throws BadConfig.
Config loadConfig(const std::string& path);

// Why port's configuration cannot stand on config's interface (line type,
// build-out or line length, framing), with the line of each reason.
std::vector<ConfigError> checkPort(const Config& config, unsigned port);

// Why a running liud cannot take next on a reload (the port count or the
// socket path changed).
std::vector<ConfigError> reloadRefusals(const Config& running, const Config& next);

} // namespace liud
