// SPDX-License-Identifier: MIT
// Formatting of a trace line's printf-style text, shared by the trace sinks.
#pragma once

#include <cstdarg>
#include <string>

namespace liutrace {

// Formats format with args the way printf would; an absent format gives "".
std::string formatText(const char* format, va_list args);

} // namespace liutrace
