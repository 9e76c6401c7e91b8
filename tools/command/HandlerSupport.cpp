// SPDX-License-Identifier: MIT
#include "HandlerSupport.h"

#include <cctype>

namespace liucmd::handlers {

const std::vector<std::string> kLineRegisterHeader = {"MODE 0x20", "TERMINATION 0x32",
                                                      "TEMPLATE 0x23"};

Failure libraryFailure(const std::string& context, int result) {
    return Failure(context + ": library result " + std::to_string(result));
}

std::string portContext(const std::string& context, std::uint16_t port) {
    return context + ": port " + std::to_string(port);
}

std::string channelText(std::uint16_t channel) {
    return channel == LIUDRV_CHANNEL_GLOBAL ? "global" : "channel " + std::to_string(channel);
}

Json channelJson(std::uint16_t channel) {
    return channel == LIUDRV_CHANNEL_GLOBAL ? Json("global") : Json(channel);
}

std::string channelText(const Json& channel) {
    return channel.is_string() ? "global" : "channel " + std::to_string(channel.get<unsigned>());
}

std::uint8_t readRegister(const std::string& context, std::uint8_t reg, std::uint16_t channel) {
    std::uint8_t value = 0;
    const int result = liuDrv_read(reg, channel, &value);
    if (result != 0) {
        throw libraryFailure(
            context + ": read of register " + hexByte(reg) + " " + channelText(channel), result);
    }
    return value;
}

ChipLine readChipLine(const std::string& context, std::uint16_t port) {
    return {readRegister(context, kModeRegister, port),
            readRegister(context, kTerminationRegister, port),
            readRegister(context, kTemplateRegister, port)};
}

Json chipLineJson(const ChipLine& chip) {
    return {{"source", "chip registers"},
            {"modeRegister", chip.mode},
            {"mode", modeName(chip.mode)},
            {"terminationRegister", chip.termination},
            {"termination", terminationName(chip.termination)},
            {"templateCodeRegister", chip.templateCode},
            {"templateCode", templateCodeName(chip.templateCode)}};
}

std::string codeCell(const std::string& name, unsigned value) {
    return name.starts_with("unknown") ? name : name + " (" + hexByte(value) + ")";
}

std::vector<std::string> chipLineCells(const Json& registers) {
    return {registers.at("mode").get<std::string>(),
            codeCell(registers.at("termination").get<std::string>(),
                     registers.at("terminationRegister").get<unsigned>()),
            codeCell(registers.at("templateCode").get<std::string>(),
                     registers.at("templateCodeRegister").get<unsigned>())};
}

const Setting& settingOf(const Json& result) {
    const Setting* found = findSetting(result.at("setting").get<std::string>());
    if (found == nullptr) {
        throw Json::other_error::create(501, "unknown setting", nullptr);
    }
    return *found;
}

std::string upperCase(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace liucmd::handlers
