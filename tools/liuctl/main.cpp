// SPDX-License-Identifier: MIT
// liuctl: the operator's tool for the 82V5088 LIU.  One process holds the
// driver library for all of its commands, from -c strings, script files, or
// an interactive shell.
#include "Script.h"
#include "Session.h"

#include "LiuTrace.h"

#include <getopt.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

using namespace liuctl;

namespace {

void printUsage(std::FILE* stream) {
    std::fprintf(stream,
                 "Usage: %s [OPTIONS]\n"
                 "Bring up and inspect an 82V5088 E1/T1/JT1 LIU through libliuDrv: one process\n"
                 "holds the library and runs commands from -c, from script files or, without\n"
                 "either, from stdin (an interactive shell when stdin is a terminal).\n"
                 "\n"
                 "Options:\n"
                 "  -c, --command=COMMANDS  run COMMANDS (separated by ';' or newlines)\n"
                 "  -f, --file=FILE         run the commands in FILE ('-' for stdin); '#' starts\n"
                 "                          a comment\n"
                 "  -i, --init=INOUT,PORTS  run 'init INOUT PORTS' before any other command\n"
                 "  -j, --json              print one JSON object per line instead of tables\n"
                 "  -k, --keep-going        go on after a failed command (exit status 1 or 2\n"
                 "                          at the end all the same)\n"
                 "  -x, --echo              print each command before running it\n"
                 "  -v, --verbose           show the library's call traces on stderr; twice:\n"
                 "                          detail traces too (register writes)\n"
                 "  -h, --help              print this help and exit\n"
                 "  -V, --version           print the version and exit\n"
                 "\n"
                 "-c and -f may be repeated and run in the order given.  The library resets the\n"
                 "chip when it initialises, once per process: start with 'init' (or --init).\n"
                 "Library errors are always shown on stderr; results are on stdout.\n"
                 "\n",
                 kProgram);
    std::fputs(Session::helpText("").c_str(), stream);
    std::fprintf(stream,
                 "\nExit status: 0 success, 1 a command failed (the library refused or the\n"
                 "chip did not answer), 2 usage error (bad option, command or word).\n");
}

[[noreturn]] void usageError(const std::string& message) {
    printError(message);
    std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
    std::exit(kExitUsage);
}

struct Source {
    enum Kind { Text, File } kind;
    std::string value;
};

bool readFile(const std::string& path, std::string& text) {
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
        return true;
    }
    std::ifstream file(path);
    if (!file) {
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return true;
}

} // namespace

int main(int argc, char** argv) {
    static const option kOptions[] = {
        {"command", required_argument, nullptr, 'c'}, {"file", required_argument, nullptr, 'f'},
        {"init", required_argument, nullptr, 'i'},    {"json", no_argument, nullptr, 'j'},
        {"keep-going", no_argument, nullptr, 'k'},    {"echo", no_argument, nullptr, 'x'},
        {"verbose", no_argument, nullptr, 'v'},       {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},       {nullptr, 0, nullptr, 0}};
    std::vector<Source> sources;
    std::string init;
    RunOptions options;
    int verbose = 0;
    opterr = 0;
    int option = 0;
    while ((option = getopt_long(argc, argv, ":c:f:i:jkxvhV", kOptions, nullptr)) != -1) {
        switch (option) {
        case 'c':
            sources.push_back({Source::Text, optarg});
            break;
        case 'f':
            sources.push_back({Source::File, optarg});
            break;
        case 'i':
            init = optarg;
            break;
        case 'j':
            options.json = true;
            break;
        case 'k':
            options.keepGoing = true;
            break;
        case 'x':
            options.echo = true;
            break;
        case 'v':
            ++verbose;
            break;
        case 'h':
            printUsage(stdout);
            return kExitSuccess;
        case 'V':
            std::printf("%s %s\n", kProgram, LIUCTL_VERSION);
            return kExitSuccess;
        case ':':
            usageError(std::string("option '") + argv[optind - 1] + "' needs an argument");
        default:
            usageError(std::string("unknown option '") + argv[optind - 1] + "'");
        }
    }
    if (optind < argc) {
        usageError(std::string("unexpected argument '") + argv[optind] +
                   "' (commands go into -c or -f)");
    }
    std::vector<std::string> initWords;
    if (!init.empty()) {
        const std::size_t comma = init.find(',');
        if (comma == std::string::npos) {
            usageError("--init: expected INOUT,PORTS, got '" + init + "'");
        }
        initWords = {"init", init.substr(0, comma), init.substr(comma + 1)};
    }

    liuTrace_setLevel(verbose == 0   ? LIU_TRACE_SHOW_ERRORS
                      : verbose == 1 ? LIU_TRACE_SHOW_CALLS
                                     : LIU_TRACE_SHOW_DETAILS);
    Session session{Output(options.json)};
    bool quit = false;
    int status = kExitSuccess;
    if (!initWords.empty()) {
        status = runCommands(session, {{initWords, 1}}, "", options, quit);
        if (status != kExitSuccess && !options.keepGoing) {
            return status;
        }
    }
    if (sources.empty()) {
        if (isatty(STDIN_FILENO) != 0) {
            return std::max(status, runInteractive(session, options));
        }
        sources.push_back({Source::File, "-"});
    }
    for (const auto& source : sources) {
        if (quit) {
            break;
        }
        std::string text = source.value;
        std::string where;
        if (source.kind == Source::File) {
            if (!readFile(source.value, text)) {
                printError("cannot read '" + source.value + "'");
                status = std::max(status, kExitFailure);
                if (options.keepGoing) {
                    continue;
                }
                return status;
            }
            where = source.value == "-" ? "stdin" : source.value;
        }
        std::vector<ScriptCommand> commands;
        try {
            commands = splitCommands(text);
        } catch (const CommandError& error) {
            printError((where.empty() ? "" : where + ": ") + error.what());
            status = std::max(status, error.status());
            if (options.keepGoing) {
                continue;
            }
            return status;
        }
        status = std::max(status, runCommands(session, commands, where, options, quit));
        if (status != kExitSuccess && !options.keepGoing) {
            return status;
        }
    }
    return status;
}
