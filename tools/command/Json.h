// SPDX-License-Identifier: MIT
// The JSON value every command result is (nlohmann's, keys kept in the
// order they were added), and the one way results are written: compact, one
// line, bytes that are not UTF-8 replaced rather than thrown on.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace liucmd {

using Json = nlohmann::ordered_json;

inline std::string jsonLine(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace liucmd
