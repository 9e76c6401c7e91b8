// SPDX-License-Identifier: MIT
// The session itself: trace, sleep, echo, help, quit.
#include "HandlerSupport.h"

#include "LiuTrace.h"

#include <cerrno>
#include <ctime>

namespace liucmd::handlers {

namespace {

const std::vector<std::string_view> kTraceLevels = {"off", "error", "call", "detail"};

void trace(Context&, const Args& args, Json& result) {
    static constexpr int kLevels[] = {LIU_TRACE_SHOW_NONE, LIU_TRACE_SHOW_ERRORS,
                                      LIU_TRACE_SHOW_CALLS, LIU_TRACE_SHOW_DETAILS};
    liuTrace_setLevel(kLevels[args.choice(1)]);
    result["level"] = kTraceLevels[args.choice(1)];
}

std::string nothing(const Json&) {
    return {};
}

void sleep(Context& context, const Args& args, Json& result) {
    const double seconds = args.seconds(1);
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(seconds);
    wait.tv_nsec = static_cast<long>((seconds - static_cast<double>(wait.tv_sec)) * 1e9);
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR && !context.interrupted()) {
    }
    result["seconds"] = seconds;
    result["interrupted"] = context.interrupted();
}

void echo(Context&, const Args& args, Json& result) {
    result["text"] = args.text(1);
}

std::string echoText(const Json& result) {
    return result.at("text").get<std::string>() + "\n";
}

void help(Context&, const Args& args, Json& result) {
    if (!args.has(1)) {
        result["commands"] = Json::array();
        for (const auto& entry : commands()) {
            result["commands"].push_back({{"name", entry.name},
                                          {"synopsis", synopsis(entry.args)},
                                          {"summary", entry.summary}});
        }
        return;
    }
    const CommandEntry& entry = args.commandEntry(1);
    result["topic"] = entry.name;
    result["synopsis"] = synopsis(entry.args);
    result["summary"] = entry.summary;
    result["details"] = entry.details;
}

std::string helpText(const Json& result) {
    return liucmd::helpText(result.value("topic", ""));
}

} // namespace

const std::vector<CommandEntry>& sessionCommands() {
    static const std::vector<CommandEntry> kCommands = {
        {.name = "trace",
         .summary = "choose which library trace lines reach stderr",
         .details = "Through liud: liud's own trace filter (its log).",
         .args = {{ArgKind::Choice, "", "level", kTraceLevels}},
         .flags = kAtChip | kConfigures,
         .handler = trace,
         .text = nothing},
        {.name = "sleep",
         .summary = "wait (fractions allowed; Ctrl-C ends the wait)",
         .details = "",
         .args = {{ArgKind::Seconds, "SECONDS", "time", {}, 0, 3600}},
         .flags = kWaits | kClientOnly,
         .handler = sleep,
         .text = nothing},
        {.name = "echo",
         .summary = "print text",
         .details = "",
         .args = {{ArgKind::Text, "TEXT...", "text", {}, 0, 0, true}},
         .flags = 0,
         .handler = echo,
         .text = echoText},
        {.name = "help",
         .summary = "print the command list or one command's usage",
         .details = "",
         .args = {{ArgKind::Command, "COMMAND", "command", {}, 0, 0, true}},
         .flags = 0,
         .handler = help,
         .text = helpText},
        {.name = "quit",
         .summary = "end the session (so do exit and the end of the input)",
         .details = "",
         .args = {},
         .flags = kEndsSession,
         .handler = [](Context&, const Args&, Json&) {},
         .text = nothing},
    };
    return kCommands;
}

} // namespace liucmd::handlers
