// SPDX-License-Identifier: MIT
#include "ChipNames.h"

#include "Words.h"

#include "LiuDrv.h"

namespace liucmd {

namespace {

struct CodeName {
    std::uint8_t code;
    const char* name;
};

template <std::size_t N> std::string nameOf(const CodeName (&table)[N], std::uint8_t code) {
    for (const auto& entry : table) {
        if (entry.code == code) {
            return entry.name;
        }
    }
    return "unknown (" + hexByte(code) + ")";
}

constexpr CodeName kTemplateCodes[] = {
    {0x01, "E1"}, {0x08, "T1"}, {0x07, "JT1"}, {0x0C, "user arbitrary waveform"}};

constexpr CodeName kTerminations[] = {{0x00, "asymmetrical E1"},
                                      {0x09, "symmetrical E1"},
                                      {0x12, "T1"},
                                      {0x1B, "JT1"},
                                      {0x24, "external termination"}};

} // namespace

bool expectedLineRegisters(int lineType, int inoutType, LineRegisters& expected) {
    switch (lineType) {
    case LIUDRV_LINE_TYPE_E1:
        expected = {0,
                    static_cast<std::uint8_t>(inoutType == LIUDRV_INOUT_ASYMMETRICAL ? 0x00 : 0x09),
                    0x01};
        return true;
    case LIUDRV_LINE_TYPE_T1:
        expected = {kModeT1Bit, 0x12, 0x08};
        return true;
    case LIUDRV_LINE_TYPE_JT1:
        expected = {kModeT1Bit, 0x1B, 0x07};
        return true;
    default:
        return false;
    }
}

int lineTypeOfRegisters(const LineRegisters& registers, int inoutType) {
    for (int lineType = LIUDRV_LINE_TYPE_E1; lineType <= LIUDRV_LINE_TYPE_JT1; ++lineType) {
        LineRegisters expected{};
        if (expectedLineRegisters(lineType, inoutType, expected) && expected == registers) {
            return lineType;
        }
    }
    return 0;
}

std::string modeName(std::uint8_t modeRegister) {
    return (modeRegister & kModeT1Bit) != 0 ? "T1/JT1" : "E1";
}

std::string templateCodeName(std::uint8_t code) {
    return nameOf(kTemplateCodes, code);
}

std::string terminationName(std::uint8_t value) {
    return nameOf(kTerminations, value);
}

std::string lineTypeName(int lineType) {
    switch (lineType) {
    case LIUDRV_LINE_TYPE_E1:
        return "E1";
    case LIUDRV_LINE_TYPE_T1:
        return "T1";
    case LIUDRV_LINE_TYPE_JT1:
        return "JT1";
    default:
        return std::to_string(lineType);
    }
}

std::string inoutName(int inoutType) {
    switch (inoutType) {
    case LIUDRV_INOUT_ASYMMETRICAL:
        return "asymmetrical";
    case LIUDRV_INOUT_SYMMETRICAL:
        return "symmetrical";
    case LIUDRV_INOUT_NONE:
        return "none";
    default:
        return std::to_string(inoutType);
    }
}

} // namespace liucmd
