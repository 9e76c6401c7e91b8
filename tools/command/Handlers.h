// SPDX-License-Identifier: MIT
// The handlers and text forms of the commands, for the command table.
#pragma once

#include "Commands.h"

namespace liucmd::handlers {

#define LIUCMD_COMMAND(name)                                                                       \
    void name(Context& context, const Args& args, Json& result);                                   \
    std::string name##Text(const Json& result);

LIUCMD_COMMAND(init)
LIUCMD_COMMAND(inout)
LIUCMD_COMMAND(set)
LIUCMD_COMMAND(get)
LIUCMD_COMMAND(show)
LIUCMD_COMMAND(refclk)
LIUCMD_COMMAND(read)
LIUCMD_COMMAND(write)
LIUCMD_COMMAND(dump)
LIUCMD_COMMAND(has)
LIUCMD_COMMAND(connected)
LIUCMD_COMMAND(broadcast)
LIUCMD_COMMAND(state)
LIUCMD_COMMAND(poll)
LIUCMD_COMMAND(watch)
LIUCMD_COMMAND(status)
LIUCMD_COMMAND(trace)
LIUCMD_COMMAND(sleep)
LIUCMD_COMMAND(echo)
LIUCMD_COMMAND(help)
LIUCMD_COMMAND(quit)

#undef LIUCMD_COMMAND

} // namespace liucmd::handlers
