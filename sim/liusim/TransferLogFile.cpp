// SPDX-License-Identifier: MIT
#include "TransferLogFile.h"

#include "TransferText.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace liusim {

TransferLogFile::TransferLogFile(const std::string& path,
                                 std::chrono::steady_clock::time_point start)
    : file_(std::fopen(path.c_str(), "w")), start_(start) {
    if (file_ == nullptr) {
        throw std::runtime_error("liusim: cannot write the transfer log " + path + ": " +
                                 std::strerror(errno));
    }
}

TransferLogFile::~TransferLogFile() {
    std::fclose(file_);
}

void TransferLogFile::write(const Transfer& transfer) {
    const std::chrono::duration<double> elapsed = transfer.time - start_;
    std::fprintf(file_, "%.6f %s\n", elapsed.count(), describe(transfer).c_str());
    std::fflush(file_);
}

} // namespace liusim
