// SPDX-License-Identifier: MIT
// liud: the daemon that owns the 82V5088 LIU for the life of the board.
#include "CommandLine.h"
#include "Configurator.h"
#include "Daemon.h"
#include "LineSocket.h"
#include "Protocol.h"

#include <cstdio>
#include <string>

namespace {

constexpr const char* kProgram = "liud";

std::string usage() {
    return std::string("Usage: liud [OPTIONS]\n"
                       "Own the 82V5088 E1/T1/JT1 LIU for the life of the board: check the "
                       "configuration\n"
                       "file, bring the chip up once, apply each port's settings and verify "
                       "them, scan\n"
                       "and poll the alarms, audit the settings, and serve liuctl's commands on "
                       "a control\n"
                       "socket.  Runs in the foreground (the service manager's way).\n"
                       "\n"
                       "Options:\n"
                       "  -c, --config=FILE  the configuration file (required; see "
                       "liud.conf(5))\n"
                       "      --check        check the file and print what liud would apply, "
                       "then\n"
                       "                     exit (0 good, 2 not); the device is not opened\n"
                       "  -s, --socket=PATH  the control socket, instead of the "
                       "configuration's\n"
                       "                     (default ") +
           liuproto::kDefaultSocket +
           ")\n"
           "      --syslog       log to syslog instead of stderr\n"
           "  -h, --help         print this help and exit\n"
           "  -V, --version      print the version and exit\n"
           "\n"
           "Signals: SIGHUP reloads the configuration and applies what changed (no reset;\n"
           "a bad file is refused and the running configuration stays); SIGTERM and SIGINT\n"
           "end liud (the chip stays as configured).\n"
           "\n"
           "Exit status: 0 ended by SIGTERM or SIGINT, 1 failure (another process owns the\n"
           "chip, the chip did not come up, the socket could not be opened), 2 usage error\n"
           "or bad configuration file (each mistake as FILE:LINE: reason, before anything\n"
           "reaches the chip).\n";
}

[[noreturn]] void usageError(const std::string& message) {
    liutool::usageError(kProgram, message);
}

} // namespace

int main(int argc, char** argv) {
    enum { kSyslog = 256, kCheck };
    static const option kOptions[] = {{"config", required_argument, nullptr, 'c'},
                                      {"socket", required_argument, nullptr, 's'},
                                      {"syslog", no_argument, nullptr, kSyslog},
                                      {"check", no_argument, nullptr, kCheck},
                                      {nullptr, 0, nullptr, 0}};
    liud::Options options;
    bool toSyslog = false;
    bool check = false;
    liutool::OptionReader reader(argc, argv, kProgram, "c:s:", kOptions, usageError, usage);
    int option = 0;
    while ((option = reader.next()) != -1) {
        switch (option) {
        case 'c':
            options.configPath = optarg;
            break;
        case 's':
            options.socketPath = optarg;
            break;
        case kSyslog:
            toSyslog = true;
            break;
        case kCheck:
            check = true;
            break;
        }
    }
    if (options.configPath.empty()) {
        usageError("no configuration file: --config FILE");
    }
    if (!liutool::fitsSocketAddress(options.socketPath)) {
        usageError("--socket: path too long (at most 107 bytes)");
    }
    liud::Config config;
    try {
        config = liud::loadConfig(options.configPath);
    } catch (const liud::BadConfig& bad) {
        // Each mistake a line; as a service's, with the error priority in
        // front, so that journalctl -p err shows why liud did not start.
        for (const auto& error : bad.errors()) {
            std::fprintf(stderr, "%s%s\n", check ? "" : "<3>",
                         liud::located(options.configPath, error).c_str());
        }
        return liutool::kExitUsage;
    }
    if (check) {
        if (!options.socketPath.empty()) {
            config.socketPath = options.socketPath;
        }
        for (const std::string& line : liud::Configurator::plan(config)) {
            std::printf("%s\n", line.c_str());
        }
        return liutool::kExitSuccess;
    }
    const liutool::Log log("liud", toSyslog);
    liud::Daemon daemon(std::move(config), options, log);
    return daemon.run();
}
