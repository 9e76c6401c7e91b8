// SPDX-License-Identifier: MIT
#include "Script.h"

#ifdef LIUCTL_LINE_EDITING
#include <editline/readline.h>
#else
#include <stdio.h>

// Built without libedit (a board whose sysroot lacks it): the shell reads
// plain lines, without history or completion.
namespace {

char* readline(const char* prompt) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    char* line = nullptr;
    std::size_t size = 0;
    const ssize_t length = getline(&line, &size, stdin);
    if (length < 0) {
        std::free(line);
        return nullptr;
    }
    if (length > 0 && line[length - 1] == '\n') {
        line[length - 1] = '\0';
    }
    return line;
}

void using_history() {}
void read_history(const char*) {}
void write_history(const char*) {}
void add_history(const char*) {}

} // namespace
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace liuctl {

std::vector<ScriptCommand> splitCommands(const std::string& text) {
    std::vector<ScriptCommand> commands;
    ScriptCommand current{{}, 1};
    std::string word;
    bool inWord = false;
    int line = 1;
    auto endWord = [&] {
        if (inWord) {
            current.words.push_back(word);
        }
        word.clear();
        inWord = false;
    };
    auto endCommand = [&] {
        endWord();
        if (!current.words.empty()) {
            commands.push_back(current);
        }
        current = ScriptCommand{{}, line};
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\'' || c == '"') {
            const std::size_t close = text.find(c, i + 1);
            if (close == std::string::npos) {
                throw UsageError("line " + std::to_string(line) + ": unterminated quote");
            }
            const std::string quoted = text.substr(i + 1, close - i - 1);
            for (const char q : quoted) {
                line += q == '\n' ? 1 : 0;
            }
            word += quoted;
            inWord = true;
            i = close;
        } else if (c == '#' && !inWord) {
            while (i + 1 < text.size() && text[i + 1] != '\n') {
                ++i;
            }
        } else if (c == '\n') {
            ++line;
            endCommand();
        } else if (c == ';') {
            endCommand();
        } else if (c == ' ' || c == '\t' || c == '\r') {
            endWord();
        } else {
            word += c;
            inWord = true;
        }
    }
    endCommand();
    return commands;
}

namespace {

std::string joinWords(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) {
        const bool quote = word.empty() || word.find_first_of(" \t;#") != std::string::npos;
        text += (text.empty() ? "" : " ") + (quote ? "'" + word + "'" : word);
    }
    return text;
}

// Runs one command, reporting its error; returns its exit status.
int runOne(Session& session, const std::vector<std::string>& words, const std::string& where,
           const RunOptions& options, bool& quit) {
    if (options.echo) {
        std::FILE* stream = options.json ? stderr : stdout;
        std::fprintf(stream, "liuctl> %s\n", joinWords(words).c_str());
        std::fflush(stream);
    }
    try {
        quit = !session.run(words);
        return kExitSuccess;
    } catch (const CommandError& error) {
        printError(where + error.what());
        return error.status();
    }
}

} // namespace

int runCommands(Session& session, const std::vector<ScriptCommand>& commands,
                const std::string& where, const RunOptions& options, bool& quit) {
    int status = kExitSuccess;
    for (const auto& command : commands) {
        const std::string location =
            where.empty() ? "" : where + ":" + std::to_string(command.line) + ": ";
        const int result = runOne(session, command.words, location, options, quit);
        if (result != kExitSuccess) {
            status = std::max(status, result);
            if (!options.keepGoing) {
                return status;
            }
        }
        if (quit) {
            break;
        }
    }
    return status;
}

#ifdef LIUCTL_LINE_EDITING
namespace {

// Tab completion of command names (first word) and settings (after set/get).
char* completeWord(const char* text, int state) {
    static std::vector<std::string> candidates;
    static std::size_t next = 0;
    if (state == 0) {
        candidates.clear();
        next = 0;
        const std::string line(rl_line_buffer, static_cast<std::size_t>(rl_point));
        const std::size_t start = line.find_first_not_of(' ');
        const bool first = start == std::string::npos || line.find(' ', start) == std::string::npos;
        if (first) {
            for (const auto& info : Session::commands()) {
                candidates.emplace_back(info.name);
            }
        } else if (line.compare(start, 4, "set ") == 0 || line.compare(start, 4, "get ") == 0) {
            for (const char* name : {"linetype", "linecode", "lbo", "linelen", "haul", "remoteloop",
                                     "analogloop", "digitalloop", "txpower", "rxpower"}) {
                candidates.emplace_back(name);
            }
        } else if (line.compare(start, 5, "help ") == 0) {
            for (const auto& info : Session::commands()) {
                candidates.emplace_back(info.name);
            }
        }
    }
    const std::size_t length = std::strlen(text);
    while (next < candidates.size()) {
        const std::string& candidate = candidates[next++];
        if (candidate.compare(0, length, text) == 0) {
            return strdup(candidate.c_str());
        }
    }
    return nullptr;
}

char** complete(const char* text, int, int) {
    rl_attempted_completion_over = 1;
    return rl_completion_matches(text, completeWord);
}

} // namespace
#endif

int runInteractive(Session& session, const RunOptions& options) {
    using_history();
    const char* home = std::getenv("HOME");
    const std::string historyFile = home != nullptr ? std::string(home) + "/.liuctl_history" : "";
    if (!historyFile.empty()) {
        read_history(historyFile.c_str());
    }
#ifdef LIUCTL_LINE_EDITING
    rl_attempted_completion_function = complete;
#endif
    std::printf("liuctl: type 'help' for the commands, 'quit' or Ctrl-D to leave\n");
    bool quit = false;
    while (!quit) {
        char* input = readline("liuctl> ");
        if (input == nullptr) {
            std::printf("\n");
            break;
        }
        const std::string line = input;
        std::free(input);
        if (line.find_first_not_of(" \t") == std::string::npos) {
            continue;
        }
        add_history(line.c_str());
        try {
            const auto commands = splitCommands(line);
            RunOptions interactive = options;
            interactive.keepGoing = false;
            interactive.echo = false;
            runCommands(session, commands, "", interactive, quit);
        } catch (const CommandError& error) {
            printError(error.what());
        }
    }
    if (!historyFile.empty()) {
        write_history(historyFile.c_str());
    }
    return kExitSuccess;
}

} // namespace liuctl
