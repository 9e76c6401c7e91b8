// SPDX-License-Identifier: MIT
#include "LiuModel.h"

#include <stdexcept>

namespace liusim {
namespace {

constexpr std::uint8_t kReadBit = 0x80;
constexpr std::uint8_t kReservedBits = 0x70;
constexpr std::uint8_t kChannelBits = 0x0F;
constexpr std::uint8_t kResetBit = 0x01;
constexpr std::uint8_t kSampleSelectBits = 0xC0;
constexpr unsigned kGlobalBank = 0;

std::string hexByte(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    return {'0', 'x', kDigits[value >> 4], kDigits[value & 0x0F]};
}

} // namespace

// ---- Bus side ---------------------------------------------------------------

std::optional<std::string> LiuModel::frameFault(Frame frame) {
    const std::string bytes = hexByte(frame[0]) + ' ' + hexByte(frame[1]) + ' ' + hexByte(frame[2]);
    if ((frame[0] & kReservedBits) != 0) {
        return "frame " + bytes + ": bits 6-4 of byte 0 must be 0";
    }
    if ((frame[0] & kReadBit) != 0 && frame[2] != 0) {
        return "frame " + bytes + ": byte 2 of a read must be 0";
    }
    return std::nullopt;
}

FrameResult LiuModel::exchange(Frame frame, Answer answer) {
    if (frameFault(frame)) {
        return FrameResult::Malformed;
    }
    const Access access = (frame[0] & kReadBit) != 0 ? Access::Read : Access::Write;
    const auto channel = static_cast<std::uint8_t>(frame[0] & kChannelBits);
    const std::uint8_t address = frame[1];

    std::lock_guard guard(lock_);
    Transfer transfer{std::chrono::steady_clock::now(), access, channel, address, 0, true};
    transfer.ok = !failsTransfer(++transfers_);
    if (access == Access::Write) {
        transfer.value = frame[2];
        if (transfer.ok) {
            busWrite(channel, address, frame[2]);
            answer[0] = answer[1] = answer[2] = 0;
        }
    } else if (transfer.ok) {
        transfer.value = busRead(channel, address);
        answer[0] = answer[1] = 0;
        answer[2] = transfer.value;
    }
    record(transfer);
    return transfer.ok ? FrameResult::Done : FrameResult::Failed;
}

bool LiuModel::openRefused() const {
    std::lock_guard guard(lock_);
    return openRefused_;
}

bool LiuModel::failsTransfer(std::uint64_t number) const {
    return failingTransfers_.contains(number) || (failingFrom_ && number >= *failingFrom_);
}

std::uint8_t LiuModel::busRead(unsigned channel, std::uint8_t address) const {
    if (address == kSampleDataRegister) {
        const auto selected = decodeSampleAddress(registers_[channel][kSampleAddressRegister]);
        return selected ? samples_[channel][selected->ui][selected->index] : 0;
    }
    return registers_[channel][address];
}

void LiuModel::busWrite(unsigned channel, std::uint8_t address, std::uint8_t value) {
    if (address == kAlarmStatusRegister) {
        return;
    }
    if (address == kSampleDataRegister) {
        if (const auto selected =
                decodeSampleAddress(registers_[channel][kSampleAddressRegister])) {
            samples_[channel][selected->ui][selected->index] = value;
        }
        return;
    }
    if (channel == kGlobalBank && address == kSoftwareResetRegister && (value & kResetBit) != 0) {
        softwareReset();
        return;
    }
    registers_[channel][address] = value;
}

void LiuModel::softwareReset() {
    for (auto& bank : registers_) {
        const std::uint8_t alarms = bank[kAlarmStatusRegister];
        bank.fill(0);
        bank[kAlarmStatusRegister] = alarms;
    }
}

void LiuModel::record(const Transfer& transfer) {
    if (log_.size() == kLogCapacity) {
        log_.pop_front();
    }
    log_.push_back(transfer);
    if (transferListener_) {
        transferListener_(transfer);
    }
}

// ---- Control side: chip contents ----------------------------------------------

void LiuModel::checkChannel(unsigned channel) {
    if (channel >= kChannels) {
        throw std::out_of_range("liusim: channel " + std::to_string(channel) + " out of range 0.." +
                                std::to_string(kChannels - 1));
    }
}

void LiuModel::checkSample(unsigned channel, unsigned ui, unsigned index) {
    checkChannel(channel);
    if (ui >= kUis) {
        throw std::out_of_range("liusim: UI " + std::to_string(ui) + " out of range 0.." +
                                std::to_string(kUis - 1));
    }
    if (index >= kSamplesPerUi) {
        throw std::out_of_range("liusim: sample " + std::to_string(index) + " out of range 0.." +
                                std::to_string(kSamplesPerUi - 1));
    }
}

std::optional<LiuModel::Sample> LiuModel::decodeSampleAddress(std::uint8_t address) {
    if ((address & kSampleSelectBits) != kSampleSelectBits) {
        return std::nullopt;
    }
    return Sample{static_cast<unsigned>((address >> 4) & 0x03), address & 0x0Fu};
}

std::uint8_t LiuModel::reg(unsigned channel, std::uint8_t address) const {
    checkChannel(channel);
    std::lock_guard guard(lock_);
    return busRead(channel, address);
}

void LiuModel::setReg(unsigned channel, std::uint8_t address, std::uint8_t value) {
    checkChannel(channel);
    std::lock_guard guard(lock_);
    if (address == kSampleDataRegister) {
        busWrite(channel, address, value);
    } else {
        registers_[channel][address] = value;
    }
}

std::uint8_t LiuModel::sample(unsigned channel, unsigned ui, unsigned index) const {
    checkSample(channel, ui, index);
    std::lock_guard guard(lock_);
    return samples_[channel][ui][index];
}

void LiuModel::setSample(unsigned channel, unsigned ui, unsigned index, std::uint8_t value) {
    checkSample(channel, ui, index);
    std::lock_guard guard(lock_);
    samples_[channel][ui][index] = value;
}

void LiuModel::setAlarmStatus(unsigned channel, std::uint8_t bits) {
    checkChannel(channel);
    std::lock_guard guard(lock_);
    registers_[channel][kAlarmStatusRegister] = bits;
}

void LiuModel::raiseAlarm(unsigned channel, std::uint8_t bits) {
    checkChannel(channel);
    std::lock_guard guard(lock_);
    registers_[channel][kAlarmStatusRegister] |= bits;
}

void LiuModel::clearAlarm(unsigned channel, std::uint8_t bits) {
    checkChannel(channel);
    std::lock_guard guard(lock_);
    registers_[channel][kAlarmStatusRegister] &= static_cast<std::uint8_t>(~bits);
}

// ---- Control side: transfer log -----------------------------------------------

std::vector<Transfer> LiuModel::log() const {
    std::lock_guard guard(lock_);
    return {log_.begin(), log_.end()};
}

void LiuModel::clearLog() {
    std::lock_guard guard(lock_);
    log_.clear();
}

std::uint64_t LiuModel::transferCount() const {
    std::lock_guard guard(lock_);
    return transfers_;
}

void LiuModel::setTransferListener(TransferListener listener) {
    std::lock_guard guard(lock_);
    transferListener_ = std::move(listener);
}

// ---- Control side: fault injection --------------------------------------------

void LiuModel::failOpen(bool refuse) {
    {
        std::lock_guard guard(lock_);
        openRefused_ = refuse;
    }
    notifyOpenRefusal(refuse);
}

void LiuModel::setOpenRefusalListener(OpenRefusalListener listener) {
    std::lock_guard guard(lock_);
    openRefusalListener_ = std::move(listener);
}

void LiuModel::notifyOpenRefusal(bool refused) {
    OpenRefusalListener listener;
    {
        std::lock_guard guard(lock_);
        listener = openRefusalListener_;
    }
    if (listener) {
        listener(refused);
    }
}

void LiuModel::checkTransferNumber(std::uint64_t k) {
    if (k == 0 || k > kMaxTransferNumber) {
        throw std::invalid_argument("liusim: transfer number " + std::to_string(k) +
                                    " out of range 1.." + std::to_string(kMaxTransferNumber));
    }
}

void LiuModel::failTransfer(std::uint64_t k) {
    checkTransferNumber(k);
    std::lock_guard guard(lock_);
    failingTransfers_.insert(transfers_ + k);
}

void LiuModel::failFrom(std::uint64_t k) {
    checkTransferNumber(k);
    std::lock_guard guard(lock_);
    failingFrom_ = transfers_ + k;
}

void LiuModel::clearFaults() {
    std::lock_guard guard(lock_);
    failingTransfers_.clear();
    failingFrom_.reset();
}

void LiuModel::powerOn() {
    {
        std::lock_guard guard(lock_);
        for (auto& bank : registers_) {
            bank.fill(0);
        }
        samples_ = {};
        log_.clear();
        transfers_ = 0;
        failingTransfers_.clear();
        failingFrom_.reset();
        openRefused_ = false;
    }
    notifyOpenRefusal(false);
}

} // namespace liusim
