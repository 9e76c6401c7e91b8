// SPDX-License-Identifier: MIT
// Line build-out (lbo 1..4) and line length (1..5) of a port: carried as T1
// pulse templates.  Setting translates the code into a pulse template number
// and writes the port's pulse template code (register 0x23); reading back
// translates the number the waveform read-out reports.
#include "PortTest.h"

#include <string>
#include <vector>

using namespace porttest;

namespace {

constexpr std::uint8_t kTemplateCode = 0x23;
constexpr std::uint8_t kSampleAddress = 0x25;
constexpr std::uint8_t kSampleData = 0x26;
constexpr unsigned kPort = 2;

// One of the two settings, with everything that tells them apart.
struct Setting {
    const char* name;
    int (*set)(std::uint16_t, int);
    int (*get)(std::uint16_t, int*);
    const char* setName;
    const char* configName;
    const char* getName;
    const char* codeWord;    // "lbo" / "lineLen"
    const char* unknownWord; // word of the refusal trace
    const char* noCode;      // read-back failure trace without the number
};

const Setting kLbo{"Lbo",
                   liuDrv_setLineBuildOut,
                   liuDrv_getLineBuildOut,
                   "liuDrv_setLineBuildOut",
                   "liuDrv_lboConfiguration",
                   "liuDrv_getLineBuildOut",
                   "lbo",
                   "unknown lbo: ",
                   "LBO not set, pulse template: "};
const Setting kLineLen{"LineLen",
                       liuDrv_setLineLength,
                       liuDrv_getLineLength,
                       "liuDrv_setLineLength",
                       "liuDrv_lineLenConfiguration",
                       "liuDrv_getLineLength",
                       "lineLen",
                       "unknown lineLen: ",
                       "line lenght unknown, pulse template: "};

void PrintTo(const Setting& s, std::ostream* out) {
    *out << s.name;
}

std::string setEntry(const Setting& s, unsigned port, int code) {
    return std::string(s.setName) + "(port=" + std::to_string(port) + " " + s.codeWord + "=" +
           std::to_string(code) + ")";
}
std::string configEntry(const Setting& s, unsigned port, int code) {
    return std::string(s.configName) + "(port=" + std::to_string(port) + ", " + s.codeWord + "=" +
           std::to_string(code) + ")";
}
std::string getEntry(const Setting& s, unsigned port) {
    return std::string(s.getName) + "(port=" + std::to_string(port) + ", ...)";
}
std::string templateTrace(unsigned port, int pulseTemplate) {
    return "liuDrv_setUserArbitraryWaveform(port=" + std::to_string(port) +
           ", template=" + std::to_string(pulseTemplate) + ")";
}

// ---- Through the chip ------------------------------------------------------------

class TemplateCodeTest : public PortTest, public ::testing::WithParamInterface<Setting> {};

TEST_P(TemplateCodeTest, GetReportsNoCodeForTheReportedTemplate1) {
    const Setting& s = GetParam();
    startLibrary();
    for (unsigned ui = 0; ui < 4; ++ui) {
        for (unsigned index = 0; index < 16; ++index) {
            chip().setSample(kPort, ui, index, static_cast<std::uint8_t>(0x40 + ui * 16 + index));
        }
    }

    int code = kUntouched;
    EXPECT_EQ(s.get(kPort, &code), -1);

    EXPECT_EQ(code, kUntouched);
    // The waveform read-out: 64 sample address writes and 64 sample reads.
    const auto bus = transfers();
    ASSERT_EQ(bus.size(), 128u);
    EXPECT_EQ(bus.front(), W(kPort, kSampleAddress, 0xC0));
    EXPECT_EQ(bus[1], R(kPort, kSampleData, 0x40));
    EXPECT_EQ(bus.back(), R(kPort, kSampleData, 0x7F));
    const auto lines = traceLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), Call(getEntry(s, kPort)));
    EXPECT_EQ(lines.back(), Error(std::string(s.getName) + ": " + s.noCode + "1"));
    EXPECT_EQ(lines[lines.size() - 2],
              Call("liuDrv_getUserArbitraryWaveform returns template=1)"));
}

TEST_P(TemplateCodeTest, GetFailsWithItsOwnTraceWhenTheReadOutFails) {
    const Setting& s = GetParam();
    startLibrary();
    // The first sample address write, and the last sample read.
    for (std::uint64_t failing : {1u, 128u}) {
        SCOPED_TRACE(failing);
        forget();
        chip().failTransfer(failing);

        int code = kUntouched;
        EXPECT_EQ(s.get(kPort, &code), -1); // not the transfer's 1

        EXPECT_EQ(code, kUntouched);
        EXPECT_EQ(transfers().size(), failing);
        const auto lines = traceLines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines.front(), Call(getEntry(s, kPort)));
        EXPECT_EQ(lines[lines.size() - 2], failing == 1 ? WriteFailed() : ReadFailed());
        EXPECT_EQ(lines.back(), Error(std::string(s.getName) + " failed"));
        EXPECT_TRUE(tracesWithFormat("%s returns template=%d)").empty());
    }
}

TEST_P(TemplateCodeTest, RefusedPortGetsOnlyTheGuardTrace) {
    const Setting& s = GetParam();
    startLibrary(4);

    EXPECT_EQ(s.set(4, 1), -1);
    int code = kUntouched;
    EXPECT_EQ(s.get(4, &code), -1);

    EXPECT_EQ(code, kUntouched);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                Call(setEntry(s, 4, 1)),
                                PortRefused(s.setName, 4, 3),
                                Call(getEntry(s, 4)),
                                PortRefused(s.getName, 4, 3),
                            }));
}

TEST_P(TemplateCodeTest, RefusedBeforeStartUp) {
    const Setting& s = GetParam();
    // Identification alone sets the port count but leaves the library
    // uninitialised.
    liuDrv_getPiu(8);
    forget();

    EXPECT_EQ(s.set(kPort, 1), -1);
    int code = kUntouched;
    EXPECT_EQ(s.get(kPort, &code), -1);

    EXPECT_EQ(code, kUntouched);
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                Call(setEntry(s, kPort, 1)),
                                NotInited(s.setName),
                                Call(getEntry(s, kPort)),
                                NotInited(s.getName),
                            }));
}

TEST_P(TemplateCodeTest, NullResultPointerIsRefusedWithoutAccess) {
    const Setting& s = GetParam();
    startLibrary();
    EXPECT_EQ(s.get(kPort, nullptr), -1);
    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(traceLines(),
              (std::vector<TraceLine>{Call(getEntry(s, kPort)), NullArgument(s.getName)}));
}

TEST_P(TemplateCodeTest, EntryFormatsHaveNoCommaOutsideAndOneInside) {
    const Setting& s = GetParam();
    startLibrary();
    ASSERT_EQ(s.set(kPort, 1), 0);
    const auto records = traces();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[0].format, std::string("%s(port=%d ") + s.codeWord + "=%d)");
    EXPECT_EQ(records[1].format, std::string("%s(port=%d, ") + s.codeWord + "=%d)");
}

TEST_P(TemplateCodeTest, LineTypeOutsideTheTableRefusesTheTemplateWrite) {
    const Setting& s = GetParam();
    startLibrary();
    for (int lineType : {0, 4, -1}) {
        SCOPED_TRACE(lineType);
        liuDrv_lineType = lineType;
        forget();

        EXPECT_EQ(s.set(kPort, 1), -1);

        EXPECT_TRUE(transfers().empty());
        const auto lines = traceLines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(),
                  Error("liuDrv_setUserArbitraryWaveform(port=2, ...) should never come to here"));
    }
}

TEST_P(TemplateCodeTest, FailedTemplateWriteReachesTheCaller) {
    const Setting& s = GetParam();
    startLibrary();
    chip().failTransfer(1);

    EXPECT_EQ(s.set(kPort, 2), 1);

    EXPECT_EQ(transfers(), (std::vector<std::string>{WFailed(kPort, kTemplateCode, 0x01)}));
    const auto lines = traceLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), WriteFailed());
}

INSTANTIATE_TEST_SUITE_P(Settings, TemplateCodeTest, ::testing::Values(kLbo, kLineLen),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Set translation ---------------------------------------------------------------

struct Translation {
    const Setting* setting;
    int code;
    int pulseTemplate;
};

void PrintTo(const Translation& t, std::ostream* out) {
    *out << t.setting->name << " " << t.code << " -> " << t.pulseTemplate;
}

class TemplateTranslation : public PortTest, public ::testing::WithParamInterface<Translation> {};

TEST_P(TemplateTranslation, WritesTheLineTypesTemplateCodeOnceTracingTheTemplateNumber) {
    const Translation& t = GetParam();
    const Setting& s = *t.setting;
    startLibrary();
    ASSERT_EQ(liuDrv_setLineType(kPort, LIUDRV_LINE_TYPE_T1), 0);
    forget();

    EXPECT_EQ(s.set(kPort, t.code), 0);

    EXPECT_EQ(transfers(), (std::vector<std::string>{W(kPort, kTemplateCode, 0x08)}));
    EXPECT_EQ(traceLines(), (std::vector<TraceLine>{
                                Call(setEntry(s, kPort, t.code)),
                                Detail(configEntry(s, kPort, t.code)),
                                Call(templateTrace(kPort, t.pulseTemplate)),
                                Wrote(kTemplateCode, 0x08),
                            }));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, TemplateTranslation,
    ::testing::Values(Translation{&kLbo, 1, 8}, Translation{&kLbo, 2, 9}, Translation{&kLbo, 3, 10},
                      Translation{&kLbo, 4, 11}, Translation{&kLineLen, 1, 2},
                      Translation{&kLineLen, 2, 3}, Translation{&kLineLen, 3, 4},
                      Translation{&kLineLen, 4, 5}, Translation{&kLineLen, 5, 6}));

class TemplateRefusedCode : public PortTest, public ::testing::WithParamInterface<Translation> {};

TEST_P(TemplateRefusedCode, RefusedInTheConfigurationStepWithoutAccess) {
    const Translation& t = GetParam();
    const Setting& s = *t.setting;
    startLibrary();

    EXPECT_EQ(s.set(kPort, t.code), -1);

    EXPECT_TRUE(transfers().empty());
    EXPECT_EQ(traceLines(),
              (std::vector<TraceLine>{
                  Call(setEntry(s, kPort, t.code)),
                  Detail(configEntry(s, kPort, t.code)),
                  Error(std::string(s.configName) + ": " + s.unknownWord + std::to_string(t.code)),
              }));
}

INSTANTIATE_TEST_SUITE_P(Codes, TemplateRefusedCode,
                         ::testing::Values(Translation{&kLbo, 0, 0}, Translation{&kLbo, 5, 0},
                                           Translation{&kLbo, -1, 0}, Translation{&kLineLen, 0, 0},
                                           Translation{&kLineLen, 6, 0},
                                           Translation{&kLineLen, -1, 0}));

// The pulse template code written follows the line type last requested,
// whatever template number the setting asks for.
struct LineTypeCode {
    int lineType;
    std::uint8_t templateCode;
};

void PrintTo(const LineTypeCode& c, std::ostream* out) {
    *out << "line type " << c.lineType;
}

class TemplateCodeOfLineType : public PortTest,
                               public ::testing::WithParamInterface<LineTypeCode> {};

TEST_P(TemplateCodeOfLineType, FollowsTheLineTypeLastRequested) {
    startLibrary();
    ASSERT_EQ(liuDrv_setLineType(kPort, GetParam().lineType), 0);
    forget();

    EXPECT_EQ(liuDrv_setLineBuildOut(kPort, 3), 0);
    EXPECT_EQ(liuDrv_setLineLength(kPort, 5), 0);

    const std::uint8_t code = GetParam().templateCode;
    EXPECT_EQ(transfers(), (std::vector<std::string>{W(kPort, kTemplateCode, code),
                                                     W(kPort, kTemplateCode, code)}));
    EXPECT_EQ(tracesWithFormat("%s(port=%d, template=%d)").size(), 2u);
    EXPECT_EQ(chip().reg(kPort, kTemplateCode), code);
}

INSTANTIATE_TEST_SUITE_P(LineTypes, TemplateCodeOfLineType,
                         ::testing::Values(LineTypeCode{LIUDRV_LINE_TYPE_E1, 0x01},
                                           LineTypeCode{LIUDRV_LINE_TYPE_T1, 0x08},
                                           LineTypeCode{LIUDRV_LINE_TYPE_JT1, 0x07}));

} // namespace
