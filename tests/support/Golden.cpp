// SPDX-License-Identifier: MIT
#include "Golden.h"

#include "LiuDrv.h"
#include "Operations.h"
#include "TraceRecorder.h"
#include "TransferText.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace golden {
namespace {

using Lines = std::vector<std::string>;
using liusim::Access;

std::string format(const char* text, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* text, ...) {
    char buffer[256];
    va_list args;
    va_start(args, text);
    std::vsnprintf(buffer, sizeof buffer, text, args);
    va_end(args);
    return buffer;
}

Lines tokens(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

int number(const std::string& token) {
    char* end = nullptr;
    const long value = std::strtol(token.c_str(), &end, 0);
    return token.empty() || *end != '\0' ? throw std::invalid_argument("not a number: " + token)
                                         : static_cast<int>(value);
}

// "global" (bank 0), "ch3" or "ch0-7"; "3" or "0-7" for alarm table rows.
std::vector<unsigned> range(std::string text) {
    text = text == "global" ? "0" : text.substr(text.rfind("ch", 0) == 0 ? 2 : 0);
    const std::size_t dash = text.find('-'); // none: npos + 1 wraps to 0, the whole text
    std::vector<unsigned> all;
    for (int at = number(text.substr(0, dash)); at <= number(text.substr(dash + 1)); ++at) {
        all.push_back(static_cast<unsigned>(at));
    }
    return all;
}

std::pair<std::string, int> assignment(const std::string& token) {
    const std::size_t equals = token.find('=');
    return equals == std::string::npos
               ? throw std::invalid_argument("not NAME=VALUE: " + token)
               : std::pair{token.substr(0, equals), number(token.substr(equals + 1))};
}

// A transfer of a channel register as the chip's log shows it.
std::string transfer(Access access, unsigned ch, int reg, int value) {
    return access == Access::Read ? format("R ch%u 0x%02x -> 0x%02x", ch, reg, value)
                                  : format("W ch%u 0x%02x <- 0x%02x", ch, reg, value);
}

// The 64 sample address writes and sample reads of a channel, UI by UI
// (the waveform read-out) or row by row (the pulse shape dump).
void samples(Lines& stream, const liusim::LiuModel& chip, unsigned ch, bool byUi) {
    for (unsigned outer = 0; outer < (byUi ? 4 : 16); ++outer) {
        for (unsigned inner = 0; inner < (byUi ? 16 : 4); ++inner) {
            const unsigned ui = byUi ? outer : inner, i = byUi ? inner : outer;
            const int address = static_cast<int>(0xC0 + ui * 16 + i);
            stream.push_back(transfer(Access::Write, ch, 0x25, address));
            stream.push_back(format("D liuDrv_write: reg=0x25 value=0x%02x", address));
            stream.push_back(transfer(Access::Read, ch, 0x26, chip.sample(ch, ui, i)));
        }
    }
}

// The 128 transfers and 67 trace lines of the waveform read-out of a port.
void readout(Lines& stream, const liusim::LiuModel& chip, unsigned port, int pulseTemplate) {
    samples(stream, chip, port, true);
    for (unsigned half = 0; half < 2; ++half) {
        std::string line = half == 0 ? "D UI1:" : "D     ";
        for (unsigned i = half * 8; i < half * 8 + 8; ++i) {
            line += format(" 0x%02x", chip.sample(port, 0, i));
        }
        stream.push_back(line + "\n");
    }
    for (unsigned ui = 0; ui < 4; ++ui) {
        for (unsigned i = 0; i < 16; ++i) {
            stream.push_back(
                format("C liuDrv_getUserArbitraryWaveform(port=%u, ...) i:%u sample:%u - 0x%02x",
                       port, ui, i, chip.sample(port, ui, i)));
        }
    }
    stream.push_back(
        format("C liuDrv_getUserArbitraryWaveform returns template=%d)", pulseTemplate));
}

// Adds what one expected line stands for to the stream or the printed texts.
void expand(const std::string& line, const liusim::LiuModel& chip, const void* table,
            Lines& stream) {
    const Lines t = tokens(line);
    const bool failed = t.back() == "FAILED";
    if (t[0] == "W" && t.size() >= 5) {
        stream.push_back(line);
        stream.push_back(
            failed ? "E liuDrv_write: SPI read failure!"
                   : format("D liuDrv_write: reg=0x%02x value=0x%02x", number(t[2]), number(t[4])));
    } else if (t[0] == "R") {
        stream.push_back(line);
        if (failed) {
            stream.push_back("E liuDrv_read: SPI read failure!");
        }
    } else if (t[0] == "C" || t[0] == "D" || t[0] == "E") {
        std::string text = line;
        for (std::size_t at; (at = text.find("\\n")) != std::string::npos;) {
            text.replace(at, 2, "\n");
        }
        if (const std::size_t at = text.find("$table"); at != std::string::npos) {
            text.replace(at, 6, format("%p", table));
        }
        stream.push_back(text);
    } else if (t[0] == "readout" && t.size() == 3) {
        readout(stream, chip, range(t[1]).at(0), number(t[2]));
    } else if (t[0] == "polled" && t.size() <= 3) {
        for (unsigned ch : range(t[1])) {
            const auto reads = static_cast<std::size_t>(t.size() == 3 ? number(t[2]) : 6);
            stream.insert(stream.end(), reads,
                          transfer(Access::Read, ch, 0x36, chip.reg(ch, 0x36)));
        }
    } else if (t[0] == "dumpsamples" && t.size() == 2) {
        samples(stream, chip, range(t[1]).at(0), false);
    } else if (t[0] == "out" || t[0] == "err" || t[0] == "I") {
        stream.push_back(line);
    } else {
        throw std::invalid_argument("unknown line: " + line);
    }
}

// A library global a golden file expects (value: none) or sets.
int global(const std::string& name, std::optional<int> value = {}) {
#define LIU_GLOBAL(global)                                                                         \
    if (name == #global) {                                                                         \
        if (value) {                                                                               \
            liuDrv_##global = static_cast<decltype(liuDrv_##global)>(*value);                      \
        }                                                                                          \
        return liuDrv_##global;                                                                    \
    }
    LIU_GLOBAL(lineType)
    LIU_GLOBAL(inoutType)
    LIU_GLOBAL(inited)
    LIU_GLOBAL(liuTyp)
    LIU_GLOBAL(maxPorts)
    LIU_GLOBAL(maxLius)
    LIU_GLOBAL(maxPortsLiu) throw std::invalid_argument("unknown global " + name);
}

const liuops::Operation& operation(const std::string& name) {
    const liuops::Operation* op = liuops::findOperation(name);
    return op != nullptr ? *op : throw std::invalid_argument("unknown operation " + name);
}

bool isDirective(const std::string& word) {
    static const std::string kDirectives =
        " case set check fail failopen allowopen call run table rmw decode ";
    return kDirectives.find(" " + word + " ") != std::string::npos;
}

class Interpreter {
  public:
    Interpreter(const Case& golden, liusim::LiuModel& chip) : golden_(golden), chip_(chip) {}

    void run() {
        for (const auto& [number, text] : golden_.lines) {
            where_ = golden_.file + ":" + std::to_string(number);
            try {
                line(tokens(text), text);
            } catch (const std::exception& error) {
                ADD_FAILURE() << where_ << ": " << error.what();
                return;
            }
        }
        finish();
    }

  private:
    void line(const Lines& t, const std::string& text) {
        if (!isDirective(t[0])) {
            if (!collecting_) {
                throw std::invalid_argument("expected line outside a call: " + text);
            }
            expand(text, chip_, out_.table, expected_);
            return;
        }
        finish();
        const std::string& word = t[0];
        if (word == "set" || word == "check") { // registers of channels, or globals
            const bool registers = t.at(1).find('=') == std::string::npos;
            for (unsigned ch : registers ? range(t[1]) : std::vector<unsigned>{0}) {
                for (std::size_t i = registers ? 2 : 1; i < t.size(); ++i) {
                    const auto [name, value] = assignment(t[i]);
                    const auto reg = static_cast<std::uint8_t>(registers ? number(name) : 0);
                    if (word == "set") {
                        registers ? chip_.setReg(ch, reg, static_cast<std::uint8_t>(value))
                                  : void(global(name, value));
                    } else {
                        EXPECT_EQ(registers ? chip_.reg(ch, reg) : global(name), value)
                            << where_ << ": " << t[1] << " " << t[i];
                    }
                }
            }
        } else if (word == "fail") {
            chip_.failTransfer(static_cast<std::uint64_t>(number(t.at(1))));
        } else if (word == "failopen" || word == "allowopen") {
            chip_.failOpen(word == "failopen");
        } else if (word == "call" || word == "run") {
            call(t);
        } else if (word == "table") {
            for (unsigned port : range(t.at(1))) {
                for (unsigned event = 1; event <= 6; ++event) {
                    EXPECT_EQ(out_.table[port][event], number(t.at(event + 1)))
                        << where_ << ": port " << port << " event " << event;
                }
            }
        } else if (word == "rmw") { // rmw OP PORT ARG REG BEFORE AFTER
            const int args[] = {number(t.at(2)), number(t.at(3))};
            const unsigned ch = static_cast<unsigned>(args[0]) & 0x0F;
            const int reg = number(t.at(4));
            chip_.setReg(ch, static_cast<std::uint8_t>(reg),
                         static_cast<std::uint8_t>(number(t.at(5))));
            chip_.clearLog();
            EXPECT_EQ(operation(t.at(1)).call(args, &out_), 0) << where_;
            Lines seen;
            for (const liusim::Transfer& done : chip_.log()) {
                seen.push_back(liusim::describe(done));
            }
            EXPECT_EQ(joined(seen), joined({transfer(Access::Read, ch, reg, number(t[5])),
                                            transfer(Access::Write, ch, reg, number(t.at(6)))}))
                << where_;
        } else if (word == "decode") { // decode OP PORT REG=VAL... -> V|refused
            const liuops::Operation& op = operation(t.at(1));
            const int port = number(t.at(2));
            std::size_t i = 3;
            for (; t.at(i) != "->"; ++i) {
                const auto [reg, value] = assignment(t[i]);
                chip_.setReg(static_cast<unsigned>(port) & 0x0F,
                             static_cast<std::uint8_t>(number(reg)),
                             static_cast<std::uint8_t>(value));
            }
            out_.reset();
            const bool refused = t.at(i + 1) == "refused";
            const int value = refused ? liuops::kUntouched : number(t[i + 1]);
            EXPECT_EQ(op.call(&port, &out_), refused ? -1 : op.handsBack ? 0 : value) << where_;
            EXPECT_EQ(out_.value, op.handsBack ? value : liuops::kUntouched) << where_;
        }
    }

    // call|run OP ARG... = RESULT [out=V|out=untouched]; ARG "null": no out-parameter.
    void call(const Lines& t) {
        const liuops::Operation& op = operation(t.at(1));
        std::vector<int> args;
        std::size_t i = 2;
        for (; t.at(i) != "="; ++i) {
            if (t[i] != "null") {
                args.push_back(number(t[i]));
            }
        }
        const bool null = std::find(t.begin(), t.end(), "null") != t.end();
        args.resize(4);
        out_.reset();
        const std::size_t mark = liutrace::stream().size();
        if (op.prints) {
            ::testing::internal::CaptureStdout();
            ::testing::internal::CaptureStderr();
        }
        const int result = op.call(args.data(), null ? nullptr : &out_);
        actual_ = liutrace::stream();
        actual_.erase(actual_.begin(), actual_.begin() + static_cast<long>(mark));
        if (op.prints) { // what it printed, after its transfers and trace lines
            std::fflush(nullptr);
            printed("out", ::testing::internal::GetCapturedStdout());
            printed("err", ::testing::internal::GetCapturedStderr());
        }
        EXPECT_EQ(result, number(t.at(i + 1))) << where_ << ": " << op.name;
        if (op.handsBack && result != 0) {
            EXPECT_TRUE(out_.untouched()) << where_ << ": out-parameter written";
        } else if (i + 2 < t.size()) { // out=V
            EXPECT_EQ(t[1] == "read" ? out_.byte : out_.value, number(t[i + 2].substr(4)))
                << where_;
        }
        if (op.guard == liuops::Guard::Inited && result == 0 && !null) { // the alarm table
            for (int port = 0; port < LIUDRV_ALARM_PORTS; ++port) {
                for (int entry = 0; entry < LIUDRV_ALARM_ENTRIES; ++entry) {
                    if (entry == 0 || port >= liuDrv_maxPorts) {
                        EXPECT_EQ(out_.table[port][entry], LIUDRV_ALARM_INITIAL)
                            << where_ << ": port " << port << " entry " << entry;
                    }
                }
            }
        }
        collecting_ = t[0] == "call";
        callAt_ = where_;
    }

    void printed(const std::string& stream, const std::string& text) {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            actual_.push_back(stream + " |" + line + "|");
        }
    }

    void finish() {
        if (collecting_) {
            EXPECT_EQ(joined(actual_), joined(expected_)) << callAt_;
        }
        collecting_ = false;
        expected_.clear();
    }

    const Case& golden_;
    liusim::LiuModel& chip_;
    std::string where_, callAt_;
    liuops::Out out_;
    bool collecting_ = false;
    Lines actual_, expected_;
};

} // namespace

std::vector<Case> load(const std::string& path) {
    std::ifstream in(path);
    const std::size_t slash = path.rfind('/') + 1;
    const std::string stem = path.substr(slash, path.rfind('.') - slash);
    std::vector<Case> cases;
    if (!in) {
        return {{stem + "_unreadable", path, {{0, "unreadable"}}}};
    }
    int number = 0;
    for (std::string text; std::getline(in, text);) {
        ++number;
        const std::size_t start = text.find_first_not_of(" \t");
        if (start == std::string::npos || text[start] == '#') {
            continue;
        }
        text = text.substr(start, text.find_last_not_of(" \t") + 1 - start);
        if (text.rfind("case ", 0) == 0) {
            cases.push_back({stem + "_" + text.substr(5), path, {}});
        } else if (cases.empty()) {
            return {{stem + "_malformed", path, {{number, "line before the first case"}}}};
        }
        cases.back().lines.emplace_back(number, text);
    }
    return cases;
}

std::string testName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

void run(const Case& golden, liusim::LiuModel& chip) {
    Interpreter(golden, chip).run();
}

std::string joined(const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

} // namespace golden
