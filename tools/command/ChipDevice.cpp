// SPDX-License-Identifier: MIT
#include "ChipDevice.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace liucmd {

namespace {

// The pid that holds a flock on the file, from /proc/locks ("1: FLOCK
// ADVISORY WRITE 812 00:1a:3 0 EOF"), or 0.
long lockOwner(const struct stat& file) {
    std::ifstream locks("/proc/locks");
    char device[32];
    std::snprintf(device, sizeof device, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
                  static_cast<unsigned long long>(file.st_ino));
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (fields >> number >> kind) {
            if (kind == "->") { // a waiter: "1: -> FLOCK ..."
                fields >> kind;
            }
            if (kind == "FLOCK" && fields >> mode >> access >> pid >> where && where == device) {
                return pid;
            }
        }
    }
    return 0;
}

std::string programName(long pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "a process" : name;
}

} // namespace

std::string deviceProblem() {
    const int fd = open(kChipDevice, O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return {};
    }
    return std::string("cannot open ") + kChipDevice + ": " + std::strerror(errno);
}

ChipLock::~ChipLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool ChipLock::take(std::string& why) {
    if (fd_ >= 0) {
        return true;
    }
    const int fd = open(kChipDevice, O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return true; // nothing to lock; the library's start-up fails and says why
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        fd_ = fd;
        return true;
    }
    const int error = errno;
    struct stat file {};
    const long owner = fstat(fd, &file) == 0 ? lockOwner(file) : 0;
    close(fd);
    why = std::string(kChipDevice) + " is in use" +
          (error != EWOULDBLOCK ? std::string(": ") + std::strerror(error)
           : owner > 0 ? " by " + programName(owner) + " (pid " + std::to_string(owner) + ")"
                       : " by another process");
    return false;
}

} // namespace liucmd
