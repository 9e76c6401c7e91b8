// SPDX-License-Identifier: MIT
// What the command families share: the handlers' view of the chip's own
// registers (where the library cannot report a setting), their error
// messages, and the pieces of their text forms.
#pragma once

#include "ChipNames.h"
#include "Commands.h"
#include "Table.h"

#include "LiuDrv.h"

#include <cstdint>
#include <string>
#include <vector>

namespace liucmd::handlers {

// "CONTEXT: library result N"
Failure libraryFailure(const std::string& context, int result);
// "set linecode: port 3"
std::string portContext(const std::string& context, std::uint16_t port);

// "global" or "channel 3", and the result's "channel" value (a number or "global").
std::string channelText(std::uint16_t channel);
Json channelJson(std::uint16_t channel);
std::string channelText(const Json& channel);

// One register through the library; throws Failure naming context,
// register and channel when the read fails.
std::uint8_t readRegister(const std::string& context, std::uint8_t reg, std::uint16_t channel);

// The chip's own account of a port's line interface: registers 0x20, 0x32, 0x23.
struct ChipLine {
    std::uint8_t mode;
    std::uint8_t termination;
    std::uint8_t templateCode;
};
ChipLine readChipLine(const std::string& context, std::uint16_t port);
// {"source":"chip registers","modeRegister":..,"mode":"E1",...}
Json chipLineJson(const ChipLine& chip);
// The three cells of those registers in a table: "E1", "symmetrical E1 (0x09)", ...
std::vector<std::string> chipLineCells(const Json& registers);
extern const std::vector<std::string> kLineRegisterHeader;
// "T1 (0x08)", or the name alone when it says "unknown (0xNN)" already.
std::string codeCell(const std::string& name, unsigned value);

// The setting a result names.
const Setting& settingOf(const Json& result);
std::string upperCase(std::string text);

// A table of the result's "ports" rows that made it to a value (a row of a
// port that failed has none); empty when none did.
template <typename Row> std::string renderRows(Table table, const Json& result, Row row) {
    for (const auto& port : result.value("ports", Json::array())) {
        if (port.contains("readBack") || port.contains("value")) {
            table.add(row(port));
        }
    }
    return table.empty() ? std::string() : table.render();
}

// The families of the command table, in the order help lists them.
const std::vector<CommandEntry>& chipCommands();     // init inout connected broadcast state
const std::vector<CommandEntry>& settingCommands();  // set get refclk
const std::vector<CommandEntry>& registerCommands(); // read write dump has
const std::vector<CommandEntry>& alarmCommands();    // poll watch
const std::vector<CommandEntry>& reportCommands();   // show status
const std::vector<CommandEntry>& sessionCommands();  // trace sleep echo help quit

} // namespace liucmd::handlers
