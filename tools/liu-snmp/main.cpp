// SPDX-License-Identifier: MIT
// liu-snmp: the ports liud owns as DS1-MIB lines and IF-MIB interfaces,
// served to snmpd over AgentX, with their notifications.
#include "Agent.h"
#include "CommandLine.h"
#include "LineSocket.h"
#include "Protocol.h"

#include <net/if.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr const char* kProgram = "liu-snmp";
constexpr const char* kDefaultConfig = "/etc/liu-snmp/liu-snmp.conf";

std::string usage() {
    char text[2048];
    std::snprintf(
        text, sizeof text,
        "Usage: liu-snmp [OPTIONS]\n"
        "Serve the ports of the 82V5088 LIU that liud owns as an AgentX subagent of\n"
        "snmpd: the DS1-MIB's dsx1ConfigTable (1.3.6.1.2.1.10.18.6) and their rows of\n"
        "ifTable and ifXTable beside the host's interfaces; send dsx1LineStatusChange,\n"
        "linkDown and linkUp when a line's status changes.  A client of liud's control\n"
        "socket: it never opens the chip.  Runs in the foreground; reconnects when snmpd\n"
        "or liud restart.\n"
        "\n"
        "Options:\n"
        "  -l, --liud=SOCKET      liud's control socket (default: the configuration's,\n"
        "                         or %s)\n"
        "  -x, --agentx=ADDRESS   the AgentX master, as snmpd's agentXSocket writes it,\n"
        "                         e.g. unix:/var/agentx/master or tcp:localhost:705\n"
        "                         (default: the configuration's, or net-snmp's default)\n"
        "  -c, --config=FILE      the configuration file (default %s when it\n"
        "                         exists; see liu-snmp(8))\n"
        "  -h, --help             print this help and exit\n"
        "  -V, --version          print the version and exit\n"
        "\n"
        "Signals: SIGTERM and SIGINT end liu-snmp.\n"
        "\n"
        "Exit status: 0 ended by SIGTERM or SIGINT, 1 failure (net-snmp's agent library\n"
        "did not start), 2 usage error, bad configuration file (each mistake as\n"
        "FILE:LINE: reason) or an ifindex_base that meets the host's interface indexes.\n",
        liuproto::kDefaultSocket, kDefaultConfig);
    return text;
}

[[noreturn]] void usageError(const std::string& message) {
    liutool::usageError(kProgram, message);
}

// The host's interface whose index is among the lines' (snmpd shows the
// host's interfaces in ifTable with the kernel's indexes); empty when
// none is.
std::string indexCollision(long base) {
    struct if_nameindex* interfaces = if_nameindex();
    if (interfaces == nullptr) {
        std::fprintf(stderr,
                     "<4>cannot list the host's interfaces (%s): ifindex_base not checked\n",
                     std::strerror(errno));
        return {};
    }
    std::string collision;
    for (const struct if_nameindex* each = interfaces; each->if_index != 0; ++each) {
        const long index = static_cast<long>(each->if_index);
        if (collision.empty() && index >= base && index < base + liusnmp::kChipPorts) {
            collision = std::string(each->if_name) + " (ifIndex " + std::to_string(index) + ")";
        }
    }
    if_freenameindex(interfaces);
    return collision;
}

} // namespace

int main(int argc, char** argv) {
    static const option kOptions[] = {{"liud", required_argument, nullptr, 'l'},
                                      {"agentx", required_argument, nullptr, 'x'},
                                      {"config", required_argument, nullptr, 'c'},
                                      {nullptr, 0, nullptr, 0}};
    std::optional<std::string> liud;
    std::optional<std::string> agentx;
    std::optional<std::string> configPath;
    liutool::OptionReader reader(argc, argv, kProgram, "l:x:c:", kOptions, usageError, usage);
    int option = 0;
    while ((option = reader.next()) != -1) {
        switch (option) {
        case 'l':
            liud = optarg;
            break;
        case 'x':
            agentx = optarg;
            break;
        case 'c':
            configPath = optarg;
            break;
        }
    }
    if (liud && (liud->empty() || !liutool::fitsSocketAddress(*liud))) {
        usageError("--liud: a socket path of 1 to 107 bytes");
    }
    if (agentx && agentx->empty()) {
        usageError("--agentx: an address, e.g. unix:/var/agentx/master");
    }
    liusnmp::Config config;
    try {
        if (configPath) {
            config = liusnmp::loadConfig(*configPath);
        } else if (std::FILE* file = std::fopen(kDefaultConfig, "r")) {
            std::fclose(file);
            config = liusnmp::loadConfig(kDefaultConfig);
        }
    } catch (const liusnmp::BadConfig& bad) {
        std::fputs(bad.what(), stderr);
        return liutool::kExitUsage;
    }
    if (liud) {
        config.liudSocket = *liud;
    }
    if (agentx) {
        config.agentx = *agentx;
    }
    if (const std::string collision = indexCollision(config.ifIndexBase); !collision.empty()) {
        std::fprintf(stderr,
                     "%s: ifindex_base %ld: the ports' ifIndex %ld to %ld would meet the host's "
                     "interface %s; choose a base above the host's interface indexes\n",
                     kProgram, config.ifIndexBase, config.ifIndexBase,
                     config.ifIndexBase + static_cast<long>(liusnmp::kChipPorts) - 1,
                     collision.c_str());
        return liutool::kExitUsage;
    }
    try {
        liusnmp::Agent agent(std::move(config));
        return agent.run();
    } catch (const std::exception& error) {
        liutool::die(kProgram, error.what());
    }
}
