// SPDX-License-Identifier: MIT
// LiuModel: the simulated 82V5088 line interface unit, as the SPI bus and a
// test see it.  Plain C++, no dependency; every member is thread-safe (the
// bus side is served on another thread than the test's).
//
// Bus side: one 3-byte frame per transfer.
//   byte 0  bit 7: 1 read, 0 write; bits 6-4: 0; bits 3-0: channel bank
//   byte 1  register address
//   byte 2  value to write (0 for a read)
// A read answers with the register value in byte 2 of the receive buffer
// (bytes 0 and 1 are 0); a write answers all zeros.
//
// Register file: 16 channel banks of 256 registers, all 0 at power-on.  The
// device-global registers (0x04 software reset, 0x07 reference clocks) live
// in bank 0 together with channel 0's registers, so a frame for channel 0 and
// a frame for the global registers are the same frame.  Registers with a
// behaviour of their own:
//   0x04 (bank 0)  software reset: a write with bit 0 set sets every register
//                  of every bank to 0, except the alarm status registers; the
//                  waveform sample memory keeps its contents too.  The reset
//                  bit clears itself, so 0x04 reads back 0 afterwards.  A
//                  write with bit 0 clear is stored like any register.
//   0x25           waveform sample address: bits 7-6 set select a sample,
//                  bits 5-4 the UI (0..3), bits 3-0 the sample (0..15).  Any
//                  other value selects no sample.  Reads back as written.
//   0x26           waveform sample data: a read gives the selected sample, a
//                  write stores it; with no sample selected a read gives 0
//                  and a write is dropped.
//   0x36           alarm status (bits 0 LOS, 1 AIS, 2 DF, 3 TLOS, 4 PRBS,
//                  7 EQ): read-only from the bus.  Bus writes are logged and
//                  ignored; only the control side changes it.
//
// Control side (tests, liusim): peek and poke registers and samples, raise
// and clear alarms, read the transfer log, inject faults.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace liusim {

enum class Access : std::uint8_t { Read, Write };

// One entry of the transfer log: one frame the chip received.
struct Transfer {
    std::chrono::steady_clock::time_point time;
    Access access;
    std::uint8_t channel; // bank selected by the frame (0 also for global registers)
    std::uint8_t reg;
    std::uint8_t value; // value written, or value answered by a read (0 if it failed)
    bool ok;            // false: failed by fault injection, nothing changed
};

// What became of one frame handed to the chip.
enum class FrameResult {
    Done,     // performed and logged
    Failed,   // failed by fault injection: logged, registers untouched
    Malformed // refused: not a frame of this chip (see frameFault); not logged
};

class LiuModel {
  public:
    static constexpr std::size_t kFrameBytes = 3;
    static constexpr unsigned kChannels = 16;
    static constexpr unsigned kUis = 4;
    static constexpr unsigned kSamplesPerUi = 16;
    // Farthest transfer a fault can be set on, counted from now: over a day
    // of transfers at the board's 1 MHz clock.
    static constexpr std::uint64_t kMaxTransferNumber = 0xFFFFFFFF;
    // The log keeps the newest kLogCapacity transfers.
    static constexpr std::size_t kLogCapacity = std::size_t{1} << 20;

    static constexpr std::uint8_t kSoftwareResetRegister = 0x04;
    static constexpr std::uint8_t kSampleAddressRegister = 0x25;
    static constexpr std::uint8_t kSampleDataRegister = 0x26;
    static constexpr std::uint8_t kAlarmStatusRegister = 0x36;

    using Frame = std::span<const std::uint8_t, kFrameBytes>;
    using Answer = std::span<std::uint8_t, kFrameBytes>;
    using TransferListener = std::function<void(const Transfer&)>;
    using OpenRefusalListener = std::function<void(bool refused)>;

    LiuModel() = default;
    LiuModel(const LiuModel&) = delete;
    LiuModel& operator=(const LiuModel&) = delete;

    // ---- Bus side --------------------------------------------------------

    // Why frame is not a frame of this chip (bits 6-4 of byte 0 set, or a
    // read with a non-zero byte 2), or nothing when it is well formed.
    static std::optional<std::string> frameFault(Frame frame);

    // Performs one frame: counts it as a transfer, applies any injected
    // fault, logs it and fills answer.  A failed or malformed frame leaves
    // answer untouched.
    FrameResult exchange(Frame frame, Answer answer);

    // True while opening the device is to be refused (failOpen).
    bool openRefused() const;

    // ---- Control side: chip contents ---------------------------------------
    // Channels 0..15, UIs 0..3, samples 0..15; anything else throws
    // std::out_of_range and changes nothing.

    // The value a bus read of the register would give (no transfer, no log).
    std::uint8_t reg(unsigned channel, std::uint8_t address) const;
    // Puts value into the register as if the chip held it: 0x26 stores the
    // selected sample, 0x36 sets the alarm status, and a write to 0x04 does
    // not reset.  No transfer, no log.
    void setReg(unsigned channel, std::uint8_t address, std::uint8_t value);

    std::uint8_t sample(unsigned channel, unsigned ui, unsigned index) const;
    void setSample(unsigned channel, unsigned ui, unsigned index, std::uint8_t value);

    // Alarm status register 0x36 of a channel: set whole, or raise/clear bits.
    void setAlarmStatus(unsigned channel, std::uint8_t bits);
    void raiseAlarm(unsigned channel, std::uint8_t bits);
    void clearAlarm(unsigned channel, std::uint8_t bits);

    // ---- Control side: transfer log ----------------------------------------

    std::vector<Transfer> log() const;
    void clearLog();
    // Frames received since power-on, failed ones included.
    std::uint64_t transferCount() const;
    // Called for every logged transfer, on the bus thread, while the model
    // is locked: it must not call back into the model.  Empty to stop.
    void setTransferListener(TransferListener listener);

    // ---- Control side: fault injection -------------------------------------

    // Refuse (true) or allow (false) opening the device from now on.
    void failOpen(bool refuse);
    // Called with the new setting whenever failOpen or powerOn changes it
    // (used by the binding that makes the device node disappear).
    void setOpenRefusalListener(OpenRefusalListener listener);
    // Fail the k-th transfer from now (1 = the next one); may be repeated to
    // fail several.  k outside 1..kMaxTransferNumber throws
    // std::invalid_argument and changes nothing.
    void failTransfer(std::uint64_t k);
    // Fail the k-th transfer from now and every one after it (same range).
    void failFrom(std::uint64_t k);
    // Cancel every pending transfer fault (the open refusal stays).
    void clearFaults();

    // Back to the power-on state: every register, sample and alarm 0, empty
    // log, transfer count 0, no fault pending, opening allowed.
    void powerOn();

  private:
    struct Sample {
        unsigned ui;
        unsigned index;
    };
    using Bank = std::array<std::uint8_t, 256>;
    using SampleMemory = std::array<std::array<std::uint8_t, kSamplesPerUi>, kUis>;

    static void checkChannel(unsigned channel);
    static void checkSample(unsigned channel, unsigned ui, unsigned index);
    static void checkTransferNumber(std::uint64_t k);
    static std::optional<Sample> decodeSampleAddress(std::uint8_t address);

    bool failsTransfer(std::uint64_t number) const;
    std::uint8_t busRead(unsigned channel, std::uint8_t address) const;
    void busWrite(unsigned channel, std::uint8_t address, std::uint8_t value);
    void softwareReset();
    void record(const Transfer& transfer);
    void notifyOpenRefusal(bool refused);

    mutable std::mutex lock_;
    std::array<Bank, kChannels> registers_{};
    std::array<SampleMemory, kChannels> samples_{};
    std::deque<Transfer> log_;
    std::uint64_t transfers_ = 0;
    std::set<std::uint64_t> failingTransfers_;
    std::optional<std::uint64_t> failingFrom_;
    bool openRefused_ = false;
    TransferListener transferListener_;
    OpenRefusalListener openRefusalListener_;
};

} // namespace liusim
