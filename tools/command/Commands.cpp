// SPDX-License-Identifier: MIT
// The command table (the families in help's order), the dispatcher, help
// and completion.
#include "Commands.h"

#include "HandlerSupport.h"

#include <cstdio>

namespace liucmd {

namespace {

std::string usageLine(const CommandEntry& entry) {
    const std::string arguments = synopsis(entry.args);
    return std::string(entry.name) + (arguments.empty() ? "" : " ") + arguments;
}

} // namespace

const std::vector<CommandEntry>& commands() {
    static const std::vector<CommandEntry> kCommands = [] {
        using Family = const std::vector<CommandEntry>& (*)();
        std::vector<CommandEntry> all;
        for (const Family family :
             {handlers::chipCommands, handlers::settingCommands, handlers::registerCommands,
              handlers::alarmCommands, handlers::reportCommands, handlers::sessionCommands}) {
            const auto& entries = family();
            all.insert(all.end(), entries.begin(), entries.end());
        }
        return all;
    }();
    return kCommands;
}

const CommandEntry* findCommand(const std::string& name) {
    const std::string lower = lowerCase(name);
    for (const auto& entry : commands()) {
        if (lower == entry.name || (lower == "exit" && entry.has(kEndsSession))) {
            return &entry;
        }
    }
    return nullptr;
}

int resultStatus(const Json& result) {
    return liuproto::envelopeOf(result).status;
}

Json runCommand(Context& context, const std::vector<std::string>& words) {
    if (words.empty()) {
        return liuproto::failedAnswer("", "empty command", kExitUsage);
    }
    const CommandEntry* entry = findCommand(words.front());
    if (entry == nullptr) {
        return liuproto::failedAnswer("", "unknown command '" + words.front() + "' (try 'help')",
                                      kExitUsage);
    }
    std::vector<std::string> normalised = words;
    normalised.front() = entry->name;
    Args args(std::move(normalised));
    Json result = liuproto::okAnswer(entry->name);
    try {
        if (entry->has(kNeedsInit) && liuDrv_inited == 0) {
            throw Failure(args.command() +
                          ": the library is not initialised: run 'init INOUT PORTS' first");
        }
        args.parse(entry->args, context.portCount());
        entry->handler(context, args, result);
    } catch (const CommandError& error) {
        result["ok"] = false;
        result["error"] = error.what();
        result["status"] = error.status();
    }
    return result;
}

std::string resultText(const Json& result) {
    const CommandEntry* entry = findCommand(result.at("command").get<std::string>());
    return entry != nullptr ? entry->text(result) : std::string();
}

std::string eventText(const Json& event) {
    char line[160];
    const liuproto::Event which = liuproto::eventOf(event);
    if (const auto* alarm = std::get_if<liuproto::AlarmEvent>(&which)) {
        std::snprintf(line, sizeof line, "%s  port %-2u  %-4s  %s\n", alarm->time.c_str(),
                      alarm->port, liuproto::indicationName(alarm->indication),
                      liuproto::changeName(alarm->active));
    } else {
        const auto& chip = std::get<liuproto::ChipEvent>(which);
        std::snprintf(line, sizeof line, "%s  chip     %s (%llu failed transfers so far)\n",
                      chip.time.c_str(),
                      chip.answering ? "answers again" : "does not answer: alarms unknown",
                      static_cast<unsigned long long>(chip.failedTransfers));
    }
    return line;
}

std::string helpText(const std::string& command) {
    if (command.empty()) {
        std::string text = "Commands:\n";
        for (const auto& entry : commands()) {
            char line[160];
            std::snprintf(line, sizeof line, "  %-27s %s\n", usageLine(entry).c_str(),
                          entry.summary);
            text += line;
        }
        return text + "Type 'help COMMAND' for one command.\n";
    }
    const CommandEntry* entry = findCommand(command);
    if (entry == nullptr) {
        return {};
    }
    std::string text = "Usage: " + usageLine(*entry) + "\n" + entry->summary + ".\n";
    if (!entry->details.empty()) {
        text += "\n" + entry->details + "\n";
    }
    return text;
}

std::vector<std::string> completeWord(const std::vector<std::string>& words, unsigned portCount) {
    if (words.empty()) {
        std::vector<std::string> names;
        for (const auto& entry : commands()) {
            names.emplace_back(entry.name);
        }
        return names;
    }
    const CommandEntry* entry = findCommand(words.front());
    return entry != nullptr ? argumentValues(entry->args, words.size(), words, portCount)
                            : std::vector<std::string>{};
}

} // namespace liucmd
