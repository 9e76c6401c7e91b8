// SPDX-License-Identifier: MIT
// Every case of the golden files of the operations, each on the library
// started once in this process and the chip at power-on (see Golden.h).
#include "Golden.h"
#include "LiuSimTest.h"

namespace {

std::vector<golden::Case> allCases() {
    std::vector<golden::Case> all;
    // The alarm table lives as long as the process: the alarm file comes first.
    for (const char* file : {"alarms", "build_out_length", "dump", "line_code", "line_type",
                             "loopbacks", "power_haul", "reference_clock", "registers"}) {
        const auto cases = golden::load(std::string(LIU_GOLDEN_DIR) + "/" + file + ".golden");
        all.insert(all.end(), cases.begin(), cases.end());
    }
    return all;
}

class Golden : public LiuSimTest, public ::testing::WithParamInterface<golden::Case> {};

TEST_P(Golden, Case) {
    startLibrary();
    golden::run(GetParam(), chip());
}

INSTANTIATE_TEST_SUITE_P(Operations, Golden, ::testing::ValuesIn(allCases()), golden::testName);

} // namespace
