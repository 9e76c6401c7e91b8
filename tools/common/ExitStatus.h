// SPDX-License-Identifier: MIT
// The exit statuses of every tool, and of every command result (liuctl
// exits with the worst status of its commands; liud's answers carry it).
#pragma once

namespace liutool {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1; // a refusal or failure
inline constexpr int kExitUsage = 2;   // bad option, command, word or file

} // namespace liutool
