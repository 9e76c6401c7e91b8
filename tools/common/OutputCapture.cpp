// SPDX-License-Identifier: MIT
#include "OutputCapture.h"

#include <unistd.h>

#include <algorithm>

namespace liutool {

int captureStream(std::FILE* stream, const std::function<int()>& call, std::string& captured) {
    std::FILE* file = std::tmpfile();
    std::fflush(stream);
    const int fd = fileno(stream);
    const int saved = file != nullptr ? dup(fd) : -1;
    if (saved < 0) {
        if (file != nullptr) {
            std::fclose(file);
        }
        return call();
    }
    dup2(fileno(file), fd);
    const int result = call();
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::rewind(file);
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        captured.append(buffer, got);
    }
    std::fclose(file);
    return result;
}

std::string passTraceLines(const std::string& captured) {
    std::string rest;
    std::size_t start = 0;
    while (start < captured.size()) {
        const std::size_t end = std::min(captured.find('\n', start), captured.size() - 1) + 1;
        const std::string line = captured.substr(start, end - start);
        if (line.starts_with("ERROR ") || line.starts_with("CALL ") ||
            line.starts_with("DETAIL ")) {
            std::fputs(line.c_str(), stderr);
        } else {
            rest += line;
        }
        start = end;
    }
    return rest;
}

} // namespace liutool
