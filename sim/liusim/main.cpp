// SPDX-License-Identifier: MIT
// liusim: runs a program against the simulated 82V5088 behind
// /dev/spidev0.0, or sends one command to a running liusim.
#include "ControlChannel.h"
#include "SimulationRun.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kUsageError = 2;

void printHelp() {
    std::printf(
        "Usage: liusim [OPTIONS] [--] PROGRAM [ARGUMENT]...\n"
        "       liusim ctl PATH COMMAND...\n"
        "\n"
        "Run PROGRAM against a simulated 82V5088 LIU behind /dev/spidev0.0, or send\n"
        "COMMAND to the liusim whose control socket is PATH.\n"
        "\n"
        "Options:\n"
        "  -l, --log=FILE       write every SPI transfer to FILE, one line each\n"
        "  -s, --scenario=FILE  carry out the timed commands of FILE while PROGRAM runs\n"
        "  -c, --ctl=PATH       listen for commands on the unix socket PATH (default:\n"
        "                       $XDG_RUNTIME_DIR/liusim-PID.sock, else /tmp/liusim-PID.sock;\n"
        "                       PROGRAM finds it in $LIUSIM_CTL); refused while another\n"
        "                       liusim listens there\n"
        "  -h, --help           display this help and exit\n"
        "  -V, --version        display the version and exit\n"
        "\n"
        "Commands (scenario lines and ctl: every command the control channel takes):\n"
        "  alarm CHANNEL los|ais|df|tlos|prbs|eq on|off\n"
        "                          raise or clear one alarm of a channel\n"
        "  status CHANNEL VALUE    set the channel's whole alarm status register\n"
        "  fail next               fail the next transfer\n"
        "  fail transfer K         fail the K-th transfer from now (1 = the next)\n"
        "  fail from K             fail the K-th transfer from now and every one after it\n"
        "  fail open on|off        refuse opening the device from now on / allow it again\n"
        "  fail none               cancel every pending fault and allow opening\n"
        "  poke CHANNEL REG VALUE  set a register as if changed behind the driver's back\n"
        "                          (no transfer, not logged)\n"
        "  reset                   a power glitch: every register back to 0, alarm status\n"
        "                          and waveform memory kept (no transfer, not logged)\n"
        "CHANNEL is 0..15, REG and VALUE 0..255, K 1..4294967295; decimal or 0x hex.\n"
        "\n"
        "Exit status:\n"
        "  PROGRAM's exit status, or 128+N when signal N ended it\n"
        "  1    liusim could not set up (scenario, log file, control socket, umockdev);\n"
        "       ctl: the command was refused or no liusim answered\n"
        "  2    bad command line\n"
        "  126  PROGRAM could not be run\n"
        "  127  PROGRAM was not found\n");
}

[[noreturn]] void usageError(const char* message) {
    std::fprintf(stderr, "liusim: %s\nTry 'liusim --help' for more information.\n", message);
    std::exit(kUsageError);
}

int sendCommand(int argc, char** argv) {
    if (argc < 4) {
        usageError("ctl needs a socket path and a command");
    }
    std::string command = argv[3];
    for (int i = 4; i < argc; ++i) {
        command += ' ';
        command += argv[i];
    }
    return liusim::sendControlCommand(argv[2], command);
}

// getopt_long's own messages would name the full path of the executable.
[[noreturn]] void optionError(char** argv, int result) {
    const char* word = argv[optind - 1];
    const bool longOption = std::strncmp(word, "--", 2) == 0;
    const std::string name = longOption ? std::string(word, std::strcspn(word, "=")) : "";
    std::string message;
    if (result == ':') {
        message = "option '" + (longOption ? name : std::string("-") + char(optopt)) +
                  "' needs an argument";
    } else if (longOption && optopt != 0) {
        message = "option '" + name + "' takes no argument";
    } else {
        message = "unknown option '" + (longOption ? name : std::string("-") + char(optopt)) + "'";
    }
    usageError(message.c_str());
}

liusim::RunOptions parseOptions(int argc, char** argv) {
    static const option kOptions[] = {
        {"log", required_argument, nullptr, 'l'}, {"scenario", required_argument, nullptr, 's'},
        {"ctl", required_argument, nullptr, 'c'}, {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},   {nullptr, 0, nullptr, 0}};
    liusim::RunOptions options;
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, "+:l:s:c:hV", kOptions, nullptr)) != -1) {
        switch (option) {
        case 'l':
            options.logPath = optarg;
            break;
        case 's':
            options.scenarioPath = optarg;
            break;
        case 'c':
            options.controlPath = optarg;
            break;
        case 'h':
            printHelp();
            std::exit(EXIT_SUCCESS);
        case 'V':
            std::printf("liusim %s\n", LIU_VERSION);
            std::exit(EXIT_SUCCESS);
        default:
            optionError(argv, option);
        }
    }
    if (optind == argc) {
        usageError("no program to run");
    }
    options.program.assign(argv + optind, argv + argc);
    if (options.controlPath.empty()) {
        options.controlPath = liusim::defaultControlPath();
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "ctl") == 0) {
        return sendCommand(argc, argv);
    }
    return liusim::runSimulation(parseOptions(argc, argv));
}
