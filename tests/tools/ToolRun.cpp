// SPDX-License-Identifier: MIT
#include "ToolRun.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tooltest {

RunResult runProgram(const std::vector<std::string>& argv, int timeoutSeconds) {
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    for (const int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    std::vector<char*> args;
    for (const auto& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }

    RunResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int open = 2;
    bool killed = false;
    while (open > 0) {
        if (std::chrono::steady_clock::now() > deadline && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        if (::poll(fds, 2, 200) < 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                char buffer[4096];
                const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    sinks[i]->append(buffer, static_cast<std::size_t>(got));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

ChipRun runOnChip(const std::vector<std::string>& liuctlArgs, const std::string& scenario) {
    char logPath[] = "/tmp/liuctl-test-log-XXXXXX";
    const int fd = mkstemp(logPath);
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    close(fd);
    std::vector<std::string> argv = {LIUSIM_PATH, "--log", logPath};
    if (!scenario.empty()) {
        argv.insert(argv.end(), {"--scenario", scenario});
    }
    argv.insert(argv.end(), {"--", LIUCTL_PATH});
    argv.insert(argv.end(), liuctlArgs.begin(), liuctlArgs.end());

    ChipRun run;
    static_cast<RunResult&>(run) = runProgram(argv);
    std::ifstream log(logPath);
    for (std::string line; std::getline(log, line);) {
        const std::size_t blank = line.find(' ');
        run.transfers.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    }
    std::remove(logPath);
    return run;
}

RunResult runAlone(const std::vector<std::string>& liuctlArgs) {
    std::vector<std::string> argv = {LIUCTL_PATH};
    argv.insert(argv.end(), liuctlArgs.begin(), liuctlArgs.end());
    return runProgram(argv);
}

std::string testFilePath(const std::string& name) {
    return std::string(TOOL_TEST_DATA_DIR) + "/" + name;
}

std::string testFile(const std::string& name) {
    std::ifstream file(testFilePath(name));
    if (!file) {
        throw std::runtime_error("cannot read " + testFilePath(name));
    }
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

} // namespace tooltest
