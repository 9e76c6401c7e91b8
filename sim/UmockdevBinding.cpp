// SPDX-License-Identifier: MIT
#include "UmockdevBinding.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace liusim {
namespace {

constexpr const char* kPreloadLibrary = "libumockdev-preload.so.0";

// The spidev node as udev would describe it; the N: line makes umockdev
// create /dev/spidev0.0 inside the testbed.
constexpr const char* kDeviceDescription =
    "P: /devices/platform/soc/spi0/spi_master/spi0/spi0.0/spidev/spidev0.0\n"
    "N: spidev0.0\n"
    "E: DEVNAME=/dev/spidev0.0\n"
    "E: SUBSYSTEM=spidev\n"
    "E: MAJOR=153\n"
    "E: MINOR=0\n"
    "A: dev=153:0\n";

struct DataRelease {
    void operator()(UMockdevIoctlData* data) const { g_object_unref(data); }
};
using DataRef = std::unique_ptr<UMockdevIoctlData, DataRelease>;

// A local copy of len bytes of the caller's memory that the pointer at
// offset inside data points to; written back when the request completes.
DataRef resolve(UMockdevIoctlData* data, std::size_t offset, std::size_t len) {
    GError* error = nullptr;
    DataRef resolved(umockdev_ioctl_data_resolve(data, offset, len, &error));
    if (error != nullptr) {
        g_error_free(error);
    }
    return resolved;
}

// The calling program is another process (or this one through the preload):
// its memory is reached through umockdev's local copies, which it writes
// back when the request completes.
class TestbedMemory final : public SpidevDevice::CallerMemory {
  public:
    explicit TestbedMemory(UMockdevIoctlData* argument) : argument_(argument) {}

    std::uint8_t* argument(std::size_t size) override {
        table_ = resolve(argument_, 0, size);
        return table_ ? table_->data : nullptr;
    }

    bool frameBuffers(std::size_t index, const std::uint8_t*& tx, std::uint8_t*& rx) override {
        const std::size_t record = index * sizeof(spi_ioc_transfer);
        DataRef frame = resolve(table_.get(), record + offsetof(spi_ioc_transfer, tx_buf),
                                SpidevDevice::kFrameLength);
        DataRef answer = resolve(table_.get(), record + offsetof(spi_ioc_transfer, rx_buf),
                                 SpidevDevice::kFrameLength);
        if (!frame || !answer) {
            return false;
        }
        tx = frame->data;
        rx = answer->data;
        buffers_.push_back(std::move(frame));
        buffers_.push_back(std::move(answer));
        return true;
    }

  private:
    UMockdevIoctlData* argument_;
    DataRef table_;
    std::vector<DataRef> buffers_;
};

std::runtime_error umockdevFailure(const char* what, GError* error) {
    std::string message = std::string("liusim: ") + what + ": " +
                          (error != nullptr ? error->message : "unknown error");
    if (error != nullptr) {
        g_error_free(error);
    }
    return std::runtime_error(message);
}

} // namespace

UmockdevBinding::UmockdevBinding(SpidevDevice& device)
    : device_(device), testbed_(umockdev_testbed_new()) {
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, kDeviceDescription, &error)) {
        g_object_unref(testbed_);
        throw umockdevFailure("cannot add the spidev device to the testbed", error);
    }
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(onIoctl), this);
    if (!umockdev_testbed_attach_ioctl(testbed_, SpidevDevice::kPath, handler_, &error)) {
        g_object_unref(handler_);
        g_object_unref(testbed_);
        throw umockdevFailure("cannot serve ioctl requests on the spidev device", error);
    }
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    rootDir_ = root;
    g_free(root);
    nodePath_ = rootDir_ + SpidevDevice::kPath;
    hiddenNodePath_ = nodePath_ + ".refused";

    device_.model().setOpenRefusalListener([this](bool refused) { showNode(!refused); });
    showNode(!device_.model().openRefused());
}

UmockdevBinding::~UmockdevBinding() {
    device_.model().setOpenRefusalListener({});
    showNode(true);
    umockdev_testbed_detach_ioctl(testbed_, SpidevDevice::kPath, nullptr);
    g_object_unref(handler_);
    g_object_unref(testbed_);
}

bool UmockdevBinding::preloadActive() {
    void* preload = dlopen(kPreloadLibrary, RTLD_LAZY | RTLD_NOLOAD);
    if (preload == nullptr) {
        return false;
    }
    dlclose(preload);
    return true;
}

// Opening is refused by putting a dangling link where the node was: the
// preload then reports ENOENT instead of falling back to the host's /dev.
void UmockdevBinding::showNode(bool present) {
    if (present == nodeShown_) {
        return;
    }
    if (present) {
        unlink(nodePath_.c_str());
        rename(hiddenNodePath_.c_str(), nodePath_.c_str());
    } else {
        rename(nodePath_.c_str(), hiddenNodePath_.c_str());
        const std::string nowhere = rootDir_ + "/no-such-device";
        if (symlink(nowhere.c_str(), nodePath_.c_str()) != 0) {
            std::fprintf(stderr, "liusim: cannot hide %s: %s\n", nodePath_.c_str(),
                         std::strerror(errno));
        }
    }
    nodeShown_ = present;
}

gboolean UmockdevBinding::onIoctl(UMockdevIoctlBase* /*handler*/, UMockdevIoctlClient* client,
                                  gpointer self) {
    IoctlResult result{};
    {
        TestbedMemory memory(umockdev_ioctl_client_get_arg(client));
        result = static_cast<UmockdevBinding*>(self)->device_.ioctl(
            umockdev_ioctl_client_get_request(client), memory);
    }
    umockdev_ioctl_client_complete(client, result.value, result.error);
    return TRUE;
}

} // namespace liusim
