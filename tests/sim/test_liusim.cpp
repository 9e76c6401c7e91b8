// SPDX-License-Identifier: MIT
// liusim: scenarios and commands in this process, then liusim run as a user runs
// it in a scratch directory, with this executable as PROGRAM ("test_liusim probe").
#include "Scenario.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

using liusim::LiuModel;
namespace fs = std::filesystem;

// After a scenario ran for a second on a chip with AIS on channel 2: the alarm status of
// channels 2 to 5 and 15, opening, and three reads (Done, Failed); or why it was refused.
std::string effectOf(const std::string& scenario) {
    std::istringstream in(scenario);
    LiuModel model;
    model.setAlarmStatus(2, 0x02);
    try {
        liusim::Scenario::read(in, "s").runDue(liusim::Scenario::Seconds(1), model);
    } catch (const liusim::CommandError& error) {
        return error.what();
    }
    char text[32];
    std::snprintf(text, sizeof text, "%02x %02x %02x %02x %02x %s ", model.reg(2, 0x36),
                  model.reg(3, 0x36), model.reg(4, 0x36), model.reg(5, 0x36), model.reg(15, 0x36),
                  model.openRefused() ? "refused" : "open");
    std::string effect = text;
    for (int i = 0; i < 3; ++i) {
        std::array<std::uint8_t, 3> frame{0x80, 0x20, 0}, answer{};
        const auto result = model.exchange(LiuModel::Frame(frame), LiuModel::Answer(answer));
        effect += result == liusim::FrameResult::Done ? 'D' : 'F';
    }
    return effect;
}

TEST(LiusimScenario, CommandsDoWhatTheySayAndBadLinesAreRefusedWithTheReason) {
    const std::pair<const char*, const char*> cases[] = {
        {"0 alarm 2 los on", "03 00 00 00 00 open DDD"},
        {"0.5   alarm 2   ais off ", "00 00 00 00 00 open DDD"},
        {"0 alarm 3 df on\n0 alarm 4 tlos on\n0 alarm 5 prbs on\n0 alarm 15 eq on",
         "02 04 08 10 80 open DDD"},
        {"0 status 2 0x91", "91 00 00 00 00 open DDD"},
        {"0 status 2 16 # comment\n\n# comment line\n1.5 status 2 3", "10 00 00 00 00 open DDD"},
        {"0.5 status 2 1\n0.2 alarm 2 tlos on\n0.5 alarm 2 eq on", "81 00 00 00 00 open DDD"},
        {"0 fail next", "02 00 00 00 00 open FDD"},
        {"0 fail transfer 2", "02 00 00 00 00 open DFD"},
        {"0 fail from 2", "02 00 00 00 00 open DFF"},
        {"0 fail open on", "02 00 00 00 00 refused DDD"},
        {"0 fail open on\n0 fail open off", "02 00 00 00 00 open DDD"},
        {"0 fail from 1\n0 fail next\n0 fail open on\n0 fail none", "02 00 00 00 00 open DDD"},
        {"0 raise 2 los",
         "s:1: unknown command 'raise' (expected alarm, status, fail, poke or reset)"},
        {"0 alarm 16 los on", "s:1: bad channel '16' (expected 0..15)"},
        {"0 alarm two los on", "s:1: bad channel 'two' (expected 0..15)"},
        {"0 alarm 2 lso on", "s:1: unknown alarm 'lso' (expected los, ais, df, tlos, prbs or eq)"},
        {"0 alarm 2 los maybe", "s:1: expected on or off, not 'maybe'"},
        {"0 alarm 2 los", "s:1: usage: alarm CHANNEL los|ais|df|tlos|prbs|eq on|off"},
        {"0 status 3 0x100", "s:1: bad status value '0x100' (expected 0..255)"},
        {"0 fail from 0", "s:1: bad transfer number '0' (expected 1..4294967295)"},
        {"0 poke 2 0x100 1", "s:1: bad register '0x100' (expected 0..255)"},
        {"0 fail transfer 4294967296", "s:1: bad transfer number '4294967296' (expected 1..429"},
        {"0 fail transfer", "s:1: usage: fail transfer K"},
        {"0 fail next 2", "s:1: usage: fail next"},
        {"0 fail sometimes", "s:1: usage: fail next | fail transfer K | fail from K | fail open"},
        {"1 fail next\n\n0 alarm 2 lso on", "s:3: unknown alarm 'lso'"},
        {"soon alarm 2 los on", "s:1: expected a time in seconds followed by a command"},
        {"-1 alarm 2 los on", "s:1: expected a time in seconds followed by a command"},
        {"inf fail next", "s:1: expected a time in seconds followed by a command"},
        {"1.5", "s:1: expected a time in seconds followed by a command"},
        {"1.5 ", "s:1: empty command"}};
    for (const auto& [scenario, effect] : cases) {
        EXPECT_THAT(effectOf(scenario), ::testing::StartsWith(effect)) << scenario;
    }
}

std::string contents(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// liusim ARGS run through the shell, stdout and stderr into the files out and err.
int liusim(const std::string& args) {
    return WEXITSTATUS(std::system((LIUSIM " " + args + " >out 2>err").c_str()));
}

bool waitFor(const char* path, int seconds = 10) {
    for (int i = 0; i < seconds * 50 && !fs::exists(path); ++i) {
        usleep(20000);
    }
    return fs::exists(path);
}

// PROGRAM under liusim: the driver's transfers; after LOS the test has its turn.
int probe() {
    const int fd = open("/dev/spidev0.0", O_RDWR);
    const auto transfer = [fd](std::uint8_t byte0, std::uint8_t reg, std::uint8_t value = 0) {
        std::uint8_t tx[3] = {byte0, reg, value}, rx[3] = {};
        const spi_ioc_transfer record{
            std::uintptr_t(tx), std::uintptr_t(rx), 3, 1000000, 0, 24, 0, 0, 0, 0, 0};
        ioctl(fd, SPI_IOC_MESSAGE(1), &record);
        return rx[2];
    };
    transfer(0x83, 0x36);
    transfer(0x03, 0x23, 0x08);
    transfer(0x83, 0x23);
    for (int i = 0; i < 500 && transfer(0x82, 0x36) != 0x01; ++i) {
        usleep(20000);
    }
    std::ofstream("ready");
    waitFor("go", 100); // a slow (sanitizer) build takes a while for the cases
    transfer(0x85, 0x36);
    transfer(0x85, 0x36);
    return fd < 0;
}

// A liusim serves the probe; meanwhile each case runs another: its exit status, what it
// prints on stdout (status 0) or stderr, nothing on the other; no PROGRAM after set-up fails.
TEST(Liusim, ServesItsProgramAndAnswersOnItsSocketWhileOthersAreRefused) {
    std::ofstream("probe.scenario") << "0.3 alarm 2 tlos on # then LOS alone\n\n0.3  status 2 1\n"
                                       "0 status 3 0x91  # before the program starts\n";
    std::ofstream("bad.scenario") << "0.5 alarm 2 los on\n1.0 alarm 2 lso on\n";
    std::ofstream("plain.file") << "not a socket\n";
    sockaddr_un address{AF_UNIX, "stale.sock"}; // left by a liusim that is gone
    const int gone = socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(bind(gone, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(gone);
    std::system(("(" LIUSIM " --log transfers.log --scenario probe.scenario --ctl live.sock -- " +
                 fs::read_symlink("/proc/self/exe").string() + " probe; echo $? >status) &")
                    .c_str());
    ASSERT_TRUE(waitFor("ready"));
    const std::tuple<std::string, int, const char*> cases[] = {
        {"--version", 0, "^liusim [0-9]+\\.[0-9]+\\.[0-9]+\n$"},
        {"--help", 0, "Exit status:[\\s\\S]*\n  126 +PROGRAM could not be run\n  127 "},
        {"--bogus", 2, "^liusim: unknown option '--bogus'\nTry 'liusim --help'"},
        {"-z true", 2, "^liusim: unknown option '-z'\n"},
        {"--log", 2, "^liusim: option '--log' needs an argument\n"},
        {"-c", 2, "^liusim: option '-c' needs an argument\n"},
        {"--help=x", 2, "^liusim: option '--help' takes no argument\n"},
        {"--log x.log", 2, "^liusim: no program to run\n"},
        {"ctl nobody.sock", 2, "^liusim: ctl needs a socket path and a command\n"},
        {"ctl nobody.sock fail next", 1, "^liusim: cannot reach liusim at nobody.sock: No such"},
        {"-- ./no-such-program", 127, "^liusim: cannot run ./no-such-program: No such file"},
        {"-- sh -c 'exit 7'", 7, "^$"},
        {"-- sh -c 'kill -TERM $$'", 143, "^$"},
        {"--scenario none", 1, "^liusim: none: cannot open the scenario file: No such file"},
        {"--scenario .", 1, "^liusim: .: cannot read the scenario file: Is a directory\n$"},
        {"--scenario bad.scenario", 1, "^liusim: bad.scenario:2: unknown alarm 'lso'"},
        {"--log no/dir.log", 1, "^liusim: cannot write the transfer log no/dir.log: No such"},
        {"--ctl plain.file", 1, "^liusim: plain.file exists and is not a socket\n$"},
        {"--ctl live.sock", 1, "^liusim: live.sock: in use by a running liusim\n$"},
        {"--ctl stale.sock -- sh -c 'test -S \"$LIUSIM_CTL\"'", 0, "^$"}, // taken over
        {"ctl live.sock alarm 99 los on", 1, "^liusim: bad channel '99' \\(expected 0..15\\)\n$"},
        {"ctl live.sock alarm 5 ais on", 0, "^$"},
        {"ctl live.sock fail next", 0, "^$"}};
    for (auto [args, status, text] : cases) {
        if (status == 1 && !args.starts_with("ctl")) {
            args += " -- echo started";
        }
        EXPECT_EQ(liusim(args), status) << args << "\n" << contents("err");
        EXPECT_TRUE(std::regex_search(contents(status ? "err" : "out"), std::regex(text))) << args;
        EXPECT_EQ(contents(status ? "out" : "err"), "") << args;
    }
    EXPECT_FALSE(fs::exists("stale.sock"));
    std::ofstream("go");
    ASSERT_TRUE(waitFor("status"));
    EXPECT_EQ(contents("status"), "0\n");
    EXPECT_FALSE(fs::exists("live.sock"));
    // Every transfer, after the seconds since the start; LOS at 0.3 s or later.
    const std::string t = "[0-9]+\\.[0-9]{6} ", log = contents("transfers.log");
    EXPECT_TRUE(std::regex_match(
        log, std::regex(t + "R ch3 0x36 -> 0x91\n" + t + "W ch3 0x23 <- 0x08\n" + t +
                        "R ch3 0x23 -> 0x08\n(" + t + "R ch2 0x36 -> 0x00\n)*" +
                        "(0\\.[3-9]|[1-9][0-9]*\\.)[0-9]+ R ch2 0x36 -> 0x01\n" + t +
                        "R ch5 0x36 -> -- FAILED\n" + t + "R ch5 0x36 -> 0x02\n")))
        << log;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "probe") {
        return probe();
    }
    char scratch[] = "/tmp/test_liusim.XXXXXX";
    ::testing::InitGoogleTest(&argc, argv);
    const int result = mkdtemp(scratch) != nullptr && chdir(scratch) == 0
                           ? RUN_ALL_TESTS()
                           : (std::perror("test_liusim: scratch directory"), 1);
    fs::remove_all(scratch);
    return result;
}
