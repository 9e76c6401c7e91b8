// SPDX-License-Identifier: MIT
#include "Golden.h"

#include "LiuDrv.h"
#include "Operations.h"
#include "TraceRecorder.h"
#include "TransferText.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <fstream>
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
    Lines all;
    for (std::string token; in >> token;) {
        all.push_back(token);
    }
    return all;
}

int number(const std::string& token) {
    char* end = nullptr;
    const long value = std::strtol(token.c_str(), &end, 0);
    if (token.empty() || *end != '\0') {
        throw std::invalid_argument("not a number: " + token);
    }
    return static_cast<int>(value);
}

// "global" (bank 0), "ch3" or "ch0-7"; "3" or "0-7" for alarm table rows.
std::vector<unsigned> range(std::string spec) {
    spec = spec == "global" ? "0" : spec.substr(spec.rfind("ch", 0) == 0 ? 2 : 0);
    const std::size_t dash = spec.find('-');
    std::vector<unsigned> all;
    for (int at = number(spec.substr(0, dash)); at <= number(spec.substr(dash + 1)); ++at) {
        all.push_back(static_cast<unsigned>(at));
    }
    return all;
}

std::pair<std::string, int> assignment(const std::string& token) {
    const std::size_t equals = token.find('=');
    if (equals == std::string::npos) {
        throw std::invalid_argument("not NAME=VALUE: " + token);
    }
    return {token.substr(0, equals), number(token.substr(equals + 1))};
}

std::string transfer(Access access, unsigned ch, int reg, int value) {
    return liusim::describe({{},
                             access,
                             static_cast<std::uint8_t>(ch),
                             static_cast<std::uint8_t>(reg),
                             static_cast<std::uint8_t>(value),
                             true});
}

void written(Lines& stream, unsigned ch, int reg, int value) {
    stream.push_back(transfer(Access::Write, ch, reg, value));
    stream.push_back(format("D liuDrv_write: reg=0x%02x value=0x%02x", reg, value));
}

// The 128 transfers and 67 trace lines of the waveform read-out of a port.
void readout(Lines& stream, const liusim::LiuModel& chip, unsigned port, int pulseTemplate) {
    for (unsigned ui = 0; ui < 4; ++ui) {
        for (unsigned i = 0; i < 16; ++i) {
            written(stream, port, 0x25, static_cast<int>(0xC0 + ui * 16 + i));
            stream.push_back(transfer(Access::Read, port, 0x26, chip.sample(port, ui, i)));
        }
    }
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
void expand(const std::string& line, const liusim::LiuModel& chip, const void* table, Lines& stream,
            std::string& out, std::string& err) {
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
        const unsigned ch = range(t[1]).at(0);
        for (unsigned i = 0; i < 16; ++i) {
            for (unsigned ui = 0; ui < 4; ++ui) {
                written(stream, ch, 0x25, static_cast<int>(0xC0 + ui * 16 + i));
                stream.push_back(transfer(Access::Read, ch, 0x26, chip.sample(ch, ui, i)));
            }
        }
    } else if ((t[0] == "out" || t[0] == "err") && line.find('|') < line.rfind('|')) {
        const std::size_t first = line.find('|');
        (t[0] == "out" ? out : err) += line.substr(first + 1, line.rfind('|') - first - 1) + "\n";
    } else {
        throw std::invalid_argument("unknown line: " + line);
    }
}

// The library's globals a golden file sets and expects.
struct Global {
    const char* name;
    int (*get)();
    void (*set)(int);
};
// clang-format off
#define LIU_GLOBAL(name, type)                                                                     \
    {#name, [] { return static_cast<int>(liuDrv_##name); },                                       \
     [](int value) { liuDrv_##name = static_cast<type>(value); }}
const Global kGlobals[] = {
    LIU_GLOBAL(lineType, int), LIU_GLOBAL(inoutType, int), LIU_GLOBAL(inited, int),
    LIU_GLOBAL(liuTyp, int), LIU_GLOBAL(maxPorts, std::uint8_t), LIU_GLOBAL(maxLius, std::uint8_t),
    LIU_GLOBAL(maxPortsLiu, std::uint8_t)};
// clang-format on

const Global& global(const std::string& name) {
    for (const Global& known : kGlobals) {
        if (name == known.name) {
            return known;
        }
    }
    throw std::invalid_argument("unknown global " + name);
}

const liuops::Operation& operation(const std::string& name) {
    if (const liuops::Operation* op = liuops::findOperation(name)) {
        return *op;
    }
    throw std::invalid_argument("unknown operation " + name);
}

bool isDirective(const std::string& word) {
    static const std::string kDirectives = " case set global state fail failopen "
                                           "allowopen call run check table rmw decode ";
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
            expand(text, chip_, out_.table, expected_, expectedOut_, expectedErr_);
            return;
        }
        finish();
        const std::string& word = t[0];
        if (word == "set" || word == "check") {
            for (unsigned ch : range(t.at(1))) {
                for (std::size_t i = 2; i < t.size(); ++i) {
                    const auto [reg, value] = assignment(t[i]);
                    const auto address = static_cast<std::uint8_t>(number(reg));
                    if (word == "set") {
                        chip_.setReg(ch, address, static_cast<std::uint8_t>(value));
                    } else {
                        EXPECT_EQ(chip_.reg(ch, address), value)
                            << where_ << ": ch" << ch << " " << t[i];
                    }
                }
            }
        } else if (word == "global" || word == "state") {
            for (std::size_t i = 1; i < t.size(); ++i) {
                const auto [name, value] = assignment(t[i]);
                if (word == "global") {
                    global(name).set(value);
                } else {
                    EXPECT_EQ(global(name).get(), value) << where_ << ": " << name;
                }
            }
        } else if (word == "fail") {
            for (std::size_t i = 1; i < t.size(); ++i) {
                chip_.failTransfer(static_cast<std::uint64_t>(number(t[i])));
            }
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
            const std::size_t mark = liutrace::stream().size();
            EXPECT_EQ(operation(t.at(1)).call(args, &out_), 0) << where_;
            Lines seen;
            for (const std::string& item : since(mark)) {
                if (item[0] == 'R' || item[0] == 'W') {
                    seen.push_back(item);
                }
            }
            expectSame(seen, {transfer(Access::Read, ch, reg, number(t[5])),
                              transfer(Access::Write, ch, reg, number(t.at(6)))});
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
            const int result = op.call(&port, &out_);
            if (t.at(i + 1) == "refused") {
                EXPECT_EQ(result, -1) << where_;
                EXPECT_TRUE(out_.untouched()) << where_;
            } else if (op.handsBack) {
                EXPECT_EQ(result, 0) << where_;
                EXPECT_EQ(out_.value, number(t[i + 1])) << where_;
            } else {
                EXPECT_EQ(result, number(t[i + 1])) << where_;
            }
        }
    }

    static Lines since(std::size_t mark) {
        const Lines all = liutrace::stream();
        return Lines(all.begin() + static_cast<long>(std::min(mark, all.size())), all.end());
    }

    void expectSame(const Lines& actual, const Lines& expected) const {
        EXPECT_EQ(joined(actual), joined(expected)) << where_;
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
        if (op.prints) {
            std::fflush(nullptr);
            printedOut_ = ::testing::internal::GetCapturedStdout();
            printedErr_ = ::testing::internal::GetCapturedStderr();
        }
        actual_ = since(mark);
        EXPECT_EQ(result, number(t.at(i + 1))) << where_ << ": " << op.name;
        const std::string outSpec = i + 2 < t.size() ? t[i + 2] : "";
        if (outSpec == "out=untouched" || (op.handsBack && result != 0)) {
            EXPECT_TRUE(out_.untouched()) << where_ << ": out-parameter written";
        } else if (outSpec.rfind("out=", 0) == 0) {
            EXPECT_EQ(t[1] == "read" ? out_.byte : out_.value, number(outSpec.substr(4))) << where_;
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
        checkPrinted_ = op.prints;
        callAt_ = where_;
    }

    void finish() {
        if (collecting_) {
            std::swap(where_, callAt_);
            expectSame(actual_, expected_);
            if (checkPrinted_) {
                EXPECT_EQ(printedOut_, expectedOut_) << where_ << ": standard output";
                EXPECT_EQ(printedErr_, expectedErr_) << where_ << ": standard error";
            }
            std::swap(where_, callAt_);
        }
        collecting_ = false;
        expected_.clear();
        expectedOut_.clear();
        expectedErr_.clear();
    }

    const Case& golden_;
    liusim::LiuModel& chip_;
    std::string where_, callAt_;
    liuops::Out out_;
    bool collecting_ = false, checkPrinted_ = false;
    Lines actual_, expected_;
    std::string expectedOut_, expectedErr_, printedOut_, printedErr_;
};

} // namespace

std::vector<Case> load(const std::string& path) {
    std::ifstream in(path);
    const std::size_t slash = path.rfind('/') + 1;
    const std::string stem = path.substr(slash, path.rfind('.') - slash);
    std::vector<Case> cases;
    if (!in) {
        return {{stem + "_unreadable", path, {{0, "unreadable file"}}}};
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
            std::string name = stem + "_" + text.substr(5);
            std::replace_if(
                name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
            cases.push_back({name, path, {}});
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
