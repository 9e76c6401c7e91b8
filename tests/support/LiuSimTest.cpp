// SPDX-License-Identifier: MIT
#include "LiuSimTest.h"

#include "SimChip.h"
#include "TransferText.h"

void LiuSimTest::SetUp() {
    liusim::SimChip& simChip = liusim::SimChip::start();
    simChip.powerOn();
    chip_ = &simChip.model();
    liutrace::clear();
}

liusim::LiuModel& LiuSimTest::chip() {
    return *chip_;
}

std::vector<std::string> LiuSimTest::transfers() const {
    std::vector<std::string> lines;
    for (const liusim::Transfer& transfer : chip_->log()) {
        lines.push_back(liusim::describe(transfer));
    }
    return lines;
}

std::vector<liutrace::TraceRecord> LiuSimTest::traces() const {
    return liutrace::records();
}

std::vector<std::string> LiuSimTest::traceTexts() const {
    std::vector<std::string> texts;
    for (const liutrace::TraceRecord& record : liutrace::records()) {
        texts.push_back(record.text);
    }
    return texts;
}

std::vector<liutrace::TraceRecord> LiuSimTest::tracesWithFormat(std::string_view format) const {
    std::vector<liutrace::TraceRecord> matching;
    for (liutrace::TraceRecord& record : liutrace::records()) {
        if (record.format == format) {
            matching.push_back(std::move(record));
        }
    }
    return matching;
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
