// SPDX-License-Identifier: MIT
// UmockdevBinding: serves a SpidevDevice behind /dev/spidev0.0 in a umockdev
// testbed.  A program sees the device while it runs with umockdev's preload
// library loaded and UMOCKDEV_DIR set to rootDir(): the process that owns the
// binding (umockdev sets UMOCKDEV_DIR there), or a child started with both
// in its environment (liusim).  Requests are served on umockdev's worker
// thread while the caller blocks in ioctl.
#pragma once

#include "SpidevDevice.h"

#include <umockdev.h>

#include <string>

namespace liusim {

class UmockdevBinding {
  public:
    // Creates the testbed with the device node.  Throws std::runtime_error
    // when umockdev refuses.
    explicit UmockdevBinding(SpidevDevice& device);
    ~UmockdevBinding();
    UmockdevBinding(const UmockdevBinding&) = delete;
    UmockdevBinding& operator=(const UmockdevBinding&) = delete;

    // The testbed directory, for UMOCKDEV_DIR.
    const std::string& rootDir() const { return rootDir_; }

    // True when umockdev's preload library is loaded into this process
    // (umockdev_in_mock_environment() is not reliable for this).
    static bool preloadActive();

  private:
    static gboolean onIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    void showNode(bool present);

    SpidevDevice& device_;
    UMockdevTestbed* testbed_ = nullptr;
    UMockdevIoctlBase* handler_ = nullptr;
    std::string rootDir_;
    std::string nodePath_;       // the device node inside the testbed
    std::string hiddenNodePath_; // where the node waits while opening is refused
    bool nodeShown_ = true;
};

} // namespace liusim
