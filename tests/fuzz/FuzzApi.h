// SPDX-License-Identifier: MIT
// The fuzz target's entry points (libFuzzer's interface), also called by
// the replay program that runs kept inputs as a regular test.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
