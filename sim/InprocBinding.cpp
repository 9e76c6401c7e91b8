// SPDX-License-Identifier: MIT
// SimChip served inside the executable itself, for places where umockdev's
// preload cannot run (user-mode emulation of another ABI, fuzzing,
// benchmarks).  The executable defines open (with its 64-bit and fortified
// variants) and ioctl, so every call of the program and of the driver library
// binds here first: "/dev/spidev0.0" opens the simulated device, everything
// else goes on to the C library.
//
// The device's descriptors are duplicates of one memfd, so they are real
// descriptors (fstat, close and dup work) and an ioctl is recognised as the
// device's by the identity of the file it refers to, not by its number.
// Open flags are not looked at (O_CLOEXEC included), and only these entry
// points lead to the device: fopen or openat of the path reach the C library.
//
// glibc's <fcntl.h> and <sys/ioctl.h> are kept out of this file on purpose:
// with fortification or 64-bit file offsets they turn open and ioctl into
// inline wrappers or aliases, which would clash with the definitions here.
#include "SimChip.h"

#include <dlfcn.h>
#include <linux/fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace liusim {
namespace {

class InprocNode {
  public:
    explicit InprocNode(SpidevDevice& device) : device_(device) {
        master_ = memfd_create("liusim-spidev0.0", MFD_CLOEXEC);
        struct stat status {};
        if (master_ < 0 || fstat(master_, &status) != 0) {
            throw std::runtime_error(std::string("liusim: cannot create the device node: ") +
                                     std::strerror(errno));
        }
        device_id_ = status.st_dev;
        inode_ = status.st_ino;
    }

    ~InprocNode() { close(master_); }
    InprocNode(const InprocNode&) = delete;
    InprocNode& operator=(const InprocNode&) = delete;

    bool isDevicePath(const char* path) const {
        return path != nullptr && std::strcmp(path, SpidevDevice::kPath) == 0;
    }

    bool isDeviceDescriptor(int fd) const {
        struct stat status {};
        return fstat(fd, &status) == 0 && status.st_dev == device_id_ && status.st_ino == inode_;
    }

    int open() const {
        if (device_.model().openRefused()) {
            errno = ENOENT;
            return -1;
        }
        return dup(master_);
    }

    int ioctl(unsigned long request, void* argument) {
        ProgramMemory memory(argument);
        const IoctlResult result = device_.ioctl(request, memory);
        if (result.value < 0) {
            errno = result.error;
            return -1;
        }
        return static_cast<int>(result.value);
    }

  private:
    // The calling program is this process: its pointers are used as they are.
    class ProgramMemory final : public SpidevDevice::CallerMemory {
      public:
        explicit ProgramMemory(void* argument) : argument_(static_cast<std::uint8_t*>(argument)) {}

        std::uint8_t* argument(std::size_t /*size*/) override { return argument_; }

        bool frameBuffers(std::size_t index, const std::uint8_t*& tx, std::uint8_t*& rx) override {
            spi_ioc_transfer record;
            std::memcpy(&record, argument_ + index * sizeof record, sizeof record);
            tx = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(record.tx_buf));
            rx = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(record.rx_buf));
            return true;
        }

      private:
        std::uint8_t* argument_;
    };

    SpidevDevice& device_;
    int master_ = -1;
    dev_t device_id_ = 0;
    ino_t inode_ = 0;
};

std::atomic<InprocNode*> servedNode{nullptr};

// The C library's own function of that name, found past this executable
// (null only if the C library lacks it).
template <typename Function> Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

bool needsMode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & __O_TMPFILE) == __O_TMPFILE;
}

using OpenFunction = int (*)(const char*, int, ...);
using FortifiedOpenFunction = int (*)(const char*, int);
using IoctlFunction = int (*)(int, unsigned long, ...);

int openFile(const char* path, int flags, mode_t mode, const char* libraryName) {
    InprocNode* node = servedNode.load();
    if (node != nullptr && node->isDevicePath(path)) {
        return node->open();
    }
    const auto forward = next<OpenFunction>(libraryName);
    if (forward == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return forward(path, flags, mode);
}

int openFileFortified(const char* path, int flags, const char* libraryName) {
    InprocNode* node = servedNode.load();
    if (node != nullptr && node->isDevicePath(path)) {
        return node->open();
    }
    const auto forward = next<FortifiedOpenFunction>(libraryName);
    if (forward == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return forward(path, flags);
}

int control(int fd, unsigned long request, void* argument, const char* libraryName) {
    InprocNode* node = servedNode.load();
    if (node != nullptr && node->isDeviceDescriptor(fd)) {
        return node->ioctl(request, argument);
    }
    const auto forward = next<IoctlFunction>(libraryName);
    if (forward == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return forward(fd, request, argument);
}

mode_t modeArgument(int flags, va_list arguments) {
    return needsMode(flags) ? static_cast<mode_t>(va_arg(arguments, unsigned int)) : 0;
}

} // namespace

SimChip& SimChip::start() {
    static SimChip chip;
    static InprocNode node(chip.device());
    servedNode.store(&node);
    return chip;
}

const char* SimChip::bindingName() {
    return "inproc";
}

} // namespace liusim

using liusim::control;
using liusim::modeArgument;
using liusim::openFile;
using liusim::openFileFortified;

extern "C" {

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openFile(path, flags, mode, "open");
}

int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openFile(path, flags, mode, "open64");
}

int __open_2(const char* path, int flags) {
    return openFileFortified(path, flags, "__open_2");
}

int __open64_2(const char* path, int flags) {
    return openFileFortified(path, flags, "__open64_2");
}

int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return control(fd, request, argument, "ioctl");
}

#if defined(__TIMESIZE) && __TIMESIZE == 32
// 32-bit targets built with 64-bit time_t route ioctl through this name.
int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return control(fd, request, argument, "__ioctl_time64");
}
#endif

} // extern "C"
