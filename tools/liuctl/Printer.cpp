// SPDX-License-Identifier: MIT
#include "Runner.h"

#include <cstdio>

namespace liuctl {

namespace interrupts {

volatile std::sig_atomic_t interrupted = 0;
volatile std::sig_atomic_t catching = 0;

namespace {
void onInterrupt(int signal) {
    if (catching == 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    interrupted = 1;
}
} // namespace

void install() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace interrupts

void Printer::event(const Json& event) const {
    std::string line = liucmd::jsonLine(event) + "\n";
    if (!json_) {
        try {
            line = liucmd::eventText(event);
        } catch (const Json::exception&) {
            // An event this liuctl does not know: shown as it came.
        }
    }
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

void Printer::result(const Json& result, const std::string& where) const {
    if (json_) {
        std::fputs((liucmd::jsonLine(result) + "\n").c_str(), stdout);
        std::fflush(stdout);
        return;
    }
    if (result.contains("command")) {
        try {
            std::fputs(liucmd::resultText(result).c_str(), stdout);
        } catch (const Json::exception&) {
            // Not a result this liuctl knows how to print: show it as it came,
            // unless it is a refusal, which the error line below says.
            if (result.value("ok", false)) {
                std::fputs((liucmd::jsonLine(result) + "\n").c_str(), stdout);
            }
        }
    }
    std::fflush(stdout);
    if (!result.value("ok", false)) {
        std::fprintf(stderr, "%s: %s%s\n", kProgram, where.c_str(),
                     result.value("error", std::string("failed")).c_str());
    }
}

void Printer::error(const std::string& message, int status) const {
    if (json_) {
        result(liuproto::failedAnswer("", message, status));
    } else {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    }
}

} // namespace liuctl
