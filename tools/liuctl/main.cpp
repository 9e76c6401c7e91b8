// SPDX-License-Identifier: MIT
// liuctl: the operator's tool for the 82V5088 LIU.  Attached to liud (the
// daemon that owns the chip) or standalone (the library in this process,
// for bring-up without liud), it runs commands from -c strings, script
// files, or an interactive shell.
#include "CommandLine.h"
#include "LiudLink.h"
#include "LocalChip.h"
#include "Shell.h"

#include "LiuTrace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

using namespace liuctl;

namespace {

std::string usageText() {
    std::string text =
        "Usage: liuctl [OPTIONS]\n"
        "Bring up and inspect an 82V5088 E1/T1/JT1 LIU: attached to liud, the daemon that\n"
        "owns the chip, or standalone with libliuDrv in this process.  Commands come from\n"
        "-c, from script files or, without either, from stdin (an interactive shell when\n"
        "stdin is a terminal).\n"
        "\n"
        "Options:\n"
        "  -C, --connect=PATH      attach to the liud listening at PATH\n"
        "  -S, --standalone        run the library in liuctl (no liud): 'init' resets the\n"
        "                          chip\n"
        "  -c, --command=COMMANDS  run COMMANDS (separated by ';' or newlines)\n"
        "  -f, --file=FILE         run the commands in FILE ('-' for stdin); '#' starts\n"
        "                          a comment\n"
        "  -i, --init=INOUT,PORTS  run 'init INOUT PORTS' before any other command\n"
        "  -j, --json              print one JSON object per line, errors and help too\n"
        "  -k, --keep-going        go on after a failed command (exit status 1 or 2\n"
        "                          at the end all the same)\n"
        "  -x, --echo              print each command before running it\n"
        "  -v, --verbose           show the library's call traces on stderr; twice:\n"
        "                          detail traces too (register writes); standalone only\n"
        "  -h, --help              print this help and exit\n"
        "  -V, --version           print the version and exit\n"
        "\n"
        "Without --connect or --standalone, liuctl attaches to liud at ";
    text += liuproto::kDefaultSocket;
    text += " when that\n"
            "socket exists, and runs standalone otherwise.  Attached, liuctl never\n"
            "initialises the chip and liud refuses 'init'.  Standalone, the library resets\n"
            "the chip when it initialises, once per process: start with 'init' (or --init).\n"
            "-c and -f may be repeated and run in the order given.\n"
            "\n";
    text += liucmd::helpText("");
    text += "\nExit status: 0 success, 1 a command failed (the library refused, the\n"
            "chip did not answer, liud refused or is not there), 2 usage error (bad\n"
            "option, command or word).\n";
    return text;
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
        {"connect", required_argument, nullptr, 'C'}, {"standalone", no_argument, nullptr, 'S'},
        {"command", required_argument, nullptr, 'c'}, {"file", required_argument, nullptr, 'f'},
        {"init", required_argument, nullptr, 'i'},    {"json", no_argument, nullptr, 'j'},
        {"keep-going", no_argument, nullptr, 'k'},    {"echo", no_argument, nullptr, 'x'},
        {"verbose", no_argument, nullptr, 'v'},       {nullptr, 0, nullptr, 0}};
    // --json decides how everything is printed, errors of earlier options too.
    bool json = false;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        json = json || std::strcmp(argv[i], "--json") == 0 || std::strcmp(argv[i], "-j") == 0;
    }
    const Printer printer(json);
    auto usageError = [&](const std::string& message) {
        if (!json) {
            liutool::usageError(kProgram, message);
        }
        printer.error(message, liucmd::kExitUsage);
        std::exit(liucmd::kExitUsage);
    };

    std::vector<Source> sources;
    std::string init;
    std::string connectPath;
    bool standalone = false;
    RunOptions options;
    int verbose = 0;
    // With --json, help and version come as result objects too.
    const liutool::OptionReader::Answer answer = [&](const std::string& option,
                                                     const std::string& text) {
        if (json) {
            Json result = liuproto::okAnswer(option);
            result[option == "--help" ? "usage" : "version"] = text;
            printer.result(result);
            std::exit(liucmd::kExitSuccess);
        }
    };
    liutool::OptionReader reader(argc, argv, kProgram, "C:Sc:f:i:jkxv", kOptions, usageError,
                                 usageText, " (commands go into -c or -f)", answer);
    int option = 0;
    while ((option = reader.next()) != -1) {
        switch (option) {
        case 'C':
            connectPath = optarg;
            break;
        case 'S':
            standalone = true;
            break;
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
        }
    }
    if (standalone && !connectPath.empty()) {
        usageError("--connect and --standalone exclude each other");
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
    interrupts::install();
    struct stat socketStat {};
    if (connectPath.empty() && !standalone && stat(liuproto::kDefaultSocket, &socketStat) == 0) {
        connectPath = liuproto::kDefaultSocket;
    }
    std::unique_ptr<Runner> runner;
    if (connectPath.empty()) {
        runner = std::make_unique<LocalChip>(printer);
    } else {
        try {
            runner = std::make_unique<LiudLink>(connectPath, printer);
        } catch (const liucmd::CommandError& error) {
            printer.error(error.what(), error.status());
            return error.status();
        }
    }

    bool quit = false;
    int status = liucmd::kExitSuccess;
    if (!initWords.empty()) {
        status = runCommands(*runner, printer, {{initWords, 1}}, "", options, quit);
        if (status != liucmd::kExitSuccess && !options.keepGoing) {
            return status;
        }
    }
    if (sources.empty()) {
        if (isatty(STDIN_FILENO) != 0) {
            return std::max(status, runInteractive(*runner, printer));
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
                printer.error("cannot read '" + source.value + "'", liucmd::kExitFailure);
                status = std::max(status, liucmd::kExitFailure);
                if (options.keepGoing) {
                    continue;
                }
                return status;
            }
            where = source.value == "-" ? "stdin" : source.value;
        }
        std::vector<liucmd::ScriptCommand> commands;
        try {
            commands = liucmd::splitCommands(text);
        } catch (const liucmd::CommandError& error) {
            printer.error((where.empty() ? "" : where + ": ") + error.what(), error.status());
            status = std::max(status, error.status());
            if (options.keepGoing) {
                continue;
            }
            return status;
        }
        status = std::max(status, runCommands(*runner, printer, commands, where, options, quit));
        if (status != liucmd::kExitSuccess && !options.keepGoing) {
            return status;
        }
    }
    return status;
}
