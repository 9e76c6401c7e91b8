// SPDX-License-Identifier: MIT
// Helpers of the hardening suites: a busy register pattern to preset the
// chip with, snapshots of the whole register file and waveform memory, and
// the register file a transfer log should have left behind.
#pragma once

#include "LiuModel.h"
#include "TraceRecorder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace hardening {

constexpr unsigned kChannels = liusim::LiuModel::kChannels;
constexpr std::uint8_t kSampleData = liusim::LiuModel::kSampleDataRegister;
constexpr std::uint8_t kSampleAddress = liusim::LiuModel::kSampleAddressRegister;
constexpr std::uint8_t kAlarmStatus = liusim::LiuModel::kAlarmStatusRegister;

// Every register of every bank; 0x26 is left out (a read of it shows the
// waveform sample selected by 0x25, compared through Samples instead).
using RegisterFile = std::array<std::array<std::uint8_t, 256>, kChannels>;
using Samples = std::array<std::uint8_t, kChannels * 4 * 16>;

// A register value that differs from register to register and from bank to
// bank, so that a write to the wrong register or channel shows.
inline std::uint8_t patternValue(unsigned channel, unsigned address) {
    return static_cast<std::uint8_t>(0x5B + 29 * channel + 7 * address);
}

// Presets every register of every bank with the pattern, then the registers
// whose value steers the operations onto their longest path:
//   0x20 bit 0            T1/JT1 mode on odd channels, E1 on even ones
//   0x22 0xE5, 0x28 0xC9  line code 2, transmitter and receiver powered up
//   0x23 0x0C             user arbitrary waveform: the pulse shape dump prints
//   0x25 0xC5             a waveform sample is selected
//   0x29 0x6B             haul 2 selected, parameter field 0x0B
//   0x2B 0xA9             digital loopback on, remote and analog off
//   0x36 0x00             no alarm indication
//   0x3E 0x00, global 0x07 0xC2
// and every waveform sample with a pattern of its own.
inline void presetBusyChip(liusim::LiuModel& chip) {
    for (unsigned channel = 0; channel < kChannels; ++channel) {
        for (unsigned address = 0; address < 256; ++address) {
            if (address != kSampleData) {
                chip.setReg(channel, static_cast<std::uint8_t>(address),
                            patternValue(channel, address));
            }
        }
        chip.setReg(
            channel, 0x20,
            static_cast<std::uint8_t>((patternValue(channel, 0x20) & 0xFE) | (channel & 1)));
        chip.setReg(channel, 0x22, 0xE5);
        chip.setReg(channel, 0x23, 0x0C);
        chip.setReg(channel, kSampleAddress, 0xC5);
        chip.setReg(channel, 0x28, 0xC9);
        chip.setReg(channel, 0x29, 0x6B);
        chip.setReg(channel, 0x2B, 0xA9);
        chip.setReg(channel, 0x3E, 0x00);
        chip.setAlarmStatus(channel, 0x00);
        for (unsigned ui = 0; ui < 4; ++ui) {
            for (unsigned index = 0; index < 16; ++index) {
                chip.setSample(channel, ui, index,
                               static_cast<std::uint8_t>(channel * 64 + ui * 16 + index * 3));
            }
        }
    }
    chip.setReg(0, 0x07, 0xC2);
}

inline RegisterFile registerFile(const liusim::LiuModel& chip) {
    RegisterFile file{};
    for (unsigned channel = 0; channel < kChannels; ++channel) {
        for (unsigned address = 0; address < 256; ++address) {
            file[channel][address] =
                address == kSampleData ? 0 : chip.reg(channel, static_cast<std::uint8_t>(address));
        }
    }
    return file;
}

inline Samples samples(const liusim::LiuModel& chip) {
    Samples all{};
    std::size_t next = 0;
    for (unsigned channel = 0; channel < kChannels; ++channel) {
        for (unsigned ui = 0; ui < 4; ++ui) {
            for (unsigned index = 0; index < 16; ++index) {
                all[next++] = chip.sample(channel, ui, index);
            }
        }
    }
    return all;
}

// Applies one logged write to a register file the way the chip stores it.
inline void applyWrite(RegisterFile& file, const liusim::Transfer& transfer) {
    if (transfer.access == liusim::Access::Write && transfer.reg != kSampleData &&
        transfer.reg != kAlarmStatus) {
        file[transfer.channel][transfer.reg] = transfer.value;
    }
}

// The registers that differ between two register files, readably.
inline std::string registerDifferences(const RegisterFile& actual, const RegisterFile& expected) {
    std::string text;
    char line[80];
    for (unsigned channel = 0; channel < kChannels; ++channel) {
        for (unsigned address = 0; address < 256; ++address) {
            if (actual[channel][address] != expected[channel][address]) {
                std::snprintf(line, sizeof line, " ch%u 0x%02x holds 0x%02x, expected 0x%02x;",
                              channel, address, actual[channel][address],
                              expected[channel][address]);
                text += line;
            }
        }
    }
    return text;
}

// Trace lines recorded since mark whose text contains fragment.
inline std::vector<liutrace::TraceRecord> tracesContaining(std::size_t mark,
                                                           std::string_view fragment) {
    std::vector<liutrace::TraceRecord> found;
    const auto all = liutrace::records();
    for (std::size_t i = mark; i < all.size(); ++i) {
        if (all[i].text.find(fragment) != std::string::npos) {
            found.push_back(all[i]);
        }
    }
    return found;
}

inline std::size_t traceMark() {
    return liutrace::records().size();
}

// The transfer is a read or write of the waveform sample registers.
inline bool isReadout(const liusim::Transfer& transfer) {
    return transfer.reg == kSampleAddress || transfer.reg == kSampleData;
}

// Same access, channel, register and, for a write, value.
inline void expectSameTransfer(const liusim::Transfer& actual, const liusim::Transfer& expected,
                               std::size_t number) {
    EXPECT_EQ(actual.access, expected.access) << "transfer " << number;
    EXPECT_EQ(actual.channel, expected.channel) << "transfer " << number;
    EXPECT_EQ(actual.reg, expected.reg) << "transfer " << number;
    if (expected.access == liusim::Access::Write) {
        EXPECT_EQ(actual.value, expected.value) << "transfer " << number;
    }
}

// Runs a call with the standard error stream sent to /dev/null (the pulse
// shape dump prints there on every position).
inline int quietly(const std::function<int()>& call) {
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    const int rc = call();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(null);
    close(saved);
    return rc;
}

} // namespace hardening
