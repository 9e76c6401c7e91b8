// SPDX-License-Identifier: MIT
#include "LiuSimTest.h"

#include "LiuDrv.h"
#include "SimChip.h"
#include "TransferText.h"

namespace {

void powerOn(liusim::SimChip& chip) {
    chip.powerOn();
    for (unsigned ch = 0; ch < liusim::LiuModel::kChannels; ++ch) {
        for (unsigned ui = 0; ui < 4; ++ui) {
            for (unsigned i = 0; i < 16; ++i) {
                chip.model().setSample(ch, ui, i,
                                       static_cast<std::uint8_t>(ch * 0x11 + ui * 16 + i));
            }
        }
    }
    liutrace::clear();
}

} // namespace

void LiuSimTest::SetUp() {
    liusim::SimChip& simChip = liusim::SimChip::start();
    chip_ = &simChip.model();
    chip_->setTransferListener([](const liusim::Transfer& transfer) {
        liutrace::noteTransfer(liusim::describe(transfer));
    });
    powerOn(simChip);
}

void LiuSimTest::TearDown() {
    const auto records = liutrace::records();
    for (const liutrace::TraceRecord& record : records) {
        const bool error = record.level == LIUDRV_TRACE_LEVEL_ERROR;
        EXPECT_TRUE(record.mask == LIUDRV_TRACE_MASK && record.line > 0 && !record.source.empty() &&
                    record.source == records.front().source)
            << record.text;
        EXPECT_EQ(record.id, error ? LIUDRV_TRACE_ERROR_ID : record.setId) << record.text;
    }
}

void LiuSimTest::startLibrary() {
    if (liuDrv_inited == 0) {
        ASSERT_EQ(liuDrv_init(LIUDRV_INOUT_SYMMETRICAL, 8), 0);
    }
    liuDrv_maxPorts = 8;
    liuDrv_maxLius = 1;
    liuDrv_inoutType = LIUDRV_INOUT_SYMMETRICAL;
    liuDrv_lineType = LIUDRV_LINE_TYPE_E1;
    powerOn(liusim::SimChip::start());
}

void LiuSimTest::presetBusyChip() {
    // reg: 0x20 T1 mode on odd channels, 0x22/0x28 line code 2 with power up,
    // 0x23 user waveform, 0x25 a sample selected, 0x29 haul 2, 0x2B digital loop.
    static constexpr std::uint8_t kSteering[][2] = {{0x22, 0xE5}, {0x23, 0x0C}, {0x25, 0xC5},
                                                    {0x28, 0xC9}, {0x29, 0x6B}, {0x2B, 0xA9},
                                                    {0x36, 0x00}, {0x3E, 0x00}};
    for (unsigned ch = 0; ch < liusim::LiuModel::kChannels; ++ch) {
        for (unsigned reg = 0; reg < 256; ++reg) {
            if (reg != liusim::LiuModel::kSampleDataRegister) {
                chip_->setReg(ch, static_cast<std::uint8_t>(reg),
                              static_cast<std::uint8_t>(0x5B + 29 * ch + 7 * reg));
            }
        }
        for (const auto& [reg, value] : kSteering) {
            chip_->setReg(ch, reg, value);
        }
        chip_->setReg(ch, 0x20, static_cast<std::uint8_t>(0xA4 | (ch & 1)));
    }
    chip_->setReg(0, 0x07, 0xC2);
    chip_->clearLog();
    liutrace::clear();
}

std::vector<std::string> LiuSimTest::transfers() const {
    std::vector<std::string> lines;
    for (const liusim::Transfer& transfer : chip_->log()) {
        lines.push_back(liusim::describe(transfer));
    }
    return lines;
}

liutrace::TraceRecord LiuSimTest::lastTrace() const {
    const auto all = liutrace::records();
    if (all.empty()) {
        ADD_FAILURE() << "no trace line was recorded";
        return {};
    }
    return all.back();
}

const char* LiuSimTest::bindingName() {
    return liusim::SimChip::bindingName();
}
