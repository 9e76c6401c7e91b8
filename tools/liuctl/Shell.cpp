// SPDX-License-Identifier: MIT
#include "Shell.h"

#include "ChipNames.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#ifdef LIUCTL_LINE_EDITING
#include <editline/readline.h>
#endif

namespace liuctl {

namespace {

// A command that waits: Ctrl-C ends it rather than liuctl.
bool waits(const std::vector<std::string>& words) {
    const liucmd::CommandEntry* entry = liucmd::findCommand(words.front());
    return entry != nullptr && entry->has(liucmd::kWaits);
}

// A command that ends the session, and did.
bool ended(const Json& result) {
    const liuproto::Envelope envelope = liuproto::envelopeOf(result);
    const liucmd::CommandEntry* entry = liucmd::findCommand(envelope.command);
    return envelope.ok && entry != nullptr && entry->has(liucmd::kEndsSession);
}

// Runs one command and prints its result; returns its exit status.
int runOne(Runner& runner, const Printer& printer, const std::vector<std::string>& words,
           const std::string& where, const RunOptions& options, bool& quit) {
    if (options.echo) {
        std::FILE* stream = printer.json() ? stderr : stdout;
        std::fprintf(stream, "liuctl> %s\n", liucmd::joinWords(words).c_str());
        std::fflush(stream);
    }
    Json result;
    if (waits(words)) {
        interrupts::Catch catchInterrupts;
        result = runner.run(words);
        if (interrupts::interrupted != 0) {
            std::fputs("\n", stderr); // after the terminal's ^C
        }
    } else {
        result = runner.run(words);
    }
    printer.result(result, where);
    quit = ended(result);
    return liucmd::resultStatus(result);
}

} // namespace

int runCommands(Runner& runner, const Printer& printer,
                const std::vector<liucmd::ScriptCommand>& commands, const std::string& where,
                const RunOptions& options, bool& quit) {
    int status = liucmd::kExitSuccess;
    for (const auto& command : commands) {
        const std::string location =
            where.empty() ? "" : where + ":" + std::to_string(command.line) + ": ";
        const int result = runOne(runner, printer, command.words, location, options, quit);
        if (result != liucmd::kExitSuccess) {
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

namespace {

#ifdef LIUCTL_LINE_EDITING

unsigned completionPorts = liucmd::kChipPorts;

// Tab: command words first, then the values each argument takes.
char* completeWord(const char* text, int state) {
    static std::vector<std::string> candidates;
    static std::size_t next = 0;
    if (state == 0) {
        next = 0;
        std::vector<std::string> words;
        try {
            const auto commands = liucmd::splitCommands(
                std::string(rl_line_buffer, static_cast<std::size_t>(rl_point)));
            if (!commands.empty()) {
                words = commands.back().words;
            }
        } catch (const liucmd::CommandError&) {
        }
        const bool atWordStart = rl_point == 0 || rl_line_buffer[rl_point - 1] == ' ' ||
                                 rl_line_buffer[rl_point - 1] == ';';
        if (!atWordStart && !words.empty()) {
            words.pop_back();
        }
        candidates = liucmd::completeWord(words, completionPorts);
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

// Keys come through here so that Ctrl-C (the read interrupted) ends the line.
int readKey(FILE*) {
    unsigned char key = 0;
    while (true) {
        const ssize_t n = ::read(STDIN_FILENO, &key, 1);
        if (n == 1) {
            return key;
        }
        if (n < 0 && errno == EINTR && interrupts::interrupted == 0) {
            continue;
        }
        return EOF;
    }
}

char* readLine(const char* prompt) {
    return readline(prompt);
}

#else

// Built without libedit (a board whose sysroot lacks it): plain lines,
// without history or completion.
char* readLine(const char* prompt) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    char* line = nullptr;
    std::size_t size = 0;
    const ssize_t length = getline(&line, &size, stdin);
    if (length < 0) {
        std::free(line);
        clearerr(stdin);
        return nullptr;
    }
    if (length > 0 && line[length - 1] == '\n') {
        line[length - 1] = '\0';
    }
    return line;
}

#endif

} // namespace

int runInteractive(Runner& runner, const Printer& printer) {
    interrupts::Catch catchInterrupts;
    const char* home = std::getenv("HOME");
    const std::string history = home != nullptr ? std::string(home) + "/.liuctl_history" : "";
#ifdef LIUCTL_LINE_EDITING
    completionPorts = runner.portCount();
    rl_catch_signals = 0;
    rl_getc_function = readKey;
    rl_attempted_completion_function = complete;
    using_history();
    if (!history.empty()) {
        read_history(history.c_str());
    }
#endif
    std::printf("liuctl: type 'help' for the commands, 'quit' or Ctrl-D to leave\n");
    bool quit = false;
    while (!quit) {
        interrupts::interrupted = 0;
        char* input = readLine("liuctl> ");
        if (interrupts::interrupted != 0) {
            // Ctrl-C: the line typed so far is dropped.
            std::free(input);
            std::printf("\n");
            continue;
        }
        if (input == nullptr) {
            std::printf("\n");
            break;
        }
        const std::string line = input;
        std::free(input);
        if (line.find_first_not_of(" \t") == std::string::npos) {
            continue;
        }
#ifdef LIUCTL_LINE_EDITING
        add_history(line.c_str());
        if (!history.empty()) {
            write_history(history.c_str());
        }
#endif
        try {
            runCommands(runner, printer, liucmd::splitCommands(line), "", {}, quit);
        } catch (const liucmd::CommandError& error) {
            printer.error(error.what(), error.status());
        }
    }
    return liucmd::kExitSuccess;
}

} // namespace liuctl
