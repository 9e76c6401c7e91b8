// SPDX-License-Identifier: MIT
// Names of what the LIU's own registers and the library's code values hold,
// as the driver's documentation names them.  A value without a documented
// meaning is shown as "unknown (0xNN)"; nothing here guesses.
#pragma once

#include <cstdint>
#include <string>

namespace liucmd {

// The chip the tools drive: 8 ports (LIU channels 0..7); a frame's channel
// field addresses 16 channels.
inline constexpr unsigned kChipPorts = 8;
inline constexpr unsigned kFrameChannels = 16;

// Registers of a port's channel that the tools read themselves where the
// library cannot report a setting.
inline constexpr std::uint8_t kModeRegister = 0x20;        // bit 0: T1/JT1 mode bit
inline constexpr std::uint8_t kModeT1Bit = 0x01;           // of the mode register
inline constexpr std::uint8_t kTemplateRegister = 0x23;    // pulse template code
inline constexpr std::uint8_t kTerminationRegister = 0x32; // termination register
// Transmit (0x22) and receive (0x28) configuration: bits 1-0 the line code field.
inline constexpr std::uint8_t kTransmitRegister = 0x22;
inline constexpr std::uint8_t kReceiveRegister = 0x28;
inline constexpr std::uint8_t kLineCodeField = 0x03;
// A port's alarm status register: the six indications, one bit each
// (LIUDRV_STATUS_*); the alarm poll reads it.
inline constexpr std::uint8_t kAlarmStatusRegister = 0x36;

// Global registers.  0x04 bit 0 is the software reset: writing it resets
// every port of the chip.
inline constexpr std::uint8_t kResetRegister = 0x04;
inline constexpr std::uint8_t kResetBit = 0x01;
// 0x07: the ports of the reference clock outputs, A in bits 2-0, B in 5-3.
inline constexpr std::uint8_t kRefClockRegister = 0x07;
struct RefClockPorts {
    unsigned a;
    unsigned b;
};
inline constexpr RefClockPorts refClockPorts(std::uint8_t refClockRegister) {
    return {refClockRegister & 0x07u, (refClockRegister >> 3) & 0x07u};
}

// What a line type configuration leaves in a port's registers: the mode
// bit of 0x20, the termination 0x32 and the pulse template code 0x23 (also
// after a build-out or line length, which keep the line type's code here).
struct LineRegisters {
    std::uint8_t modeBit;
    std::uint8_t termination;
    std::uint8_t templateCode;
    bool operator==(const LineRegisters&) const = default;
};
// For line type 1..3 on an interface of inoutType; nothing for other codes.
bool expectedLineRegisters(int lineType, int inoutType, LineRegisters& expected);
// The line type code (1..3) whose registers these are, or 0.
int lineTypeOfRegisters(const LineRegisters& registers, int inoutType);

// "E1" (bit 0 clear) or "T1/JT1" (bit 0 set) from register 0x20.
std::string modeName(std::uint8_t modeRegister);
// Pulse template code of register 0x23: "E1", "T1", "JT1", "user arbitrary
// waveform" or "unknown (0xNN)".
std::string templateCodeName(std::uint8_t code);
// Termination register 0x32: "asymmetrical E1", "symmetrical E1", "T1",
// "JT1", "external termination" or "unknown (0xNN)".
std::string terminationName(std::uint8_t value);
// "E1" / "T1" / "JT1" for line type codes 1..3, the number otherwise.
std::string lineTypeName(int lineType);
// Input/output type: "asymmetrical" (1), "symmetrical" (2), "none" (255).
std::string inoutName(int inoutType);

} // namespace liucmd
