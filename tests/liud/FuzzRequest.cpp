// SPDX-License-Identifier: MIT
// libFuzzer target: liud's request parser and the command handlers behind
// it, against the simulated chip served in-process.  Each input is split
// into lines, each answered as one request of a control client.  What must
// hold: every line gets exactly one answer, except that a line ending a
// watch is answered by the watch's summary; each answer is one JSON object
// with "ok"; nothing crashes, leaks or reads out of bounds.
#include "Daemon.h"
#include "SimChip.h"

#include "LiuTrace.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

liud::Daemon& daemon() {
    static const liutool::Log log("liud", false);
    static liud::Daemon* const instance = [] {
        liusim::SimChip::start();
        liud::Config config;
        config.path = "fuzz.conf";
        config.inout = LIUDRV_INOUT_SYMMETRICAL;
        config.portConfigs.resize(config.ports);
        auto* created = new liud::Daemon(config, {}, log);
        if (!created->bringUp()) {
            std::abort();
        }
        return created;
    }();
    return *instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    liud::Daemon& liud = daemon();
    liuTrace_setLevel(LIU_TRACE_SHOW_NONE); // a "trace detail" of the last input
    const std::string input(reinterpret_cast<const char*>(data), size);
    liud::ControlServer::Client client;
    std::size_t requests = 0;
    for (std::size_t start = 0, end = 0;
         !client.closing && (end = input.find('\n', start)) != std::string::npos; start = end + 1) {
        liud.request(client, input.substr(start, end - start));
        ++requests;
    }
    std::size_t answers = 0;
    std::size_t watchesEnded = 0;
    for (std::size_t start = 0, end = 0;
         (end = client.output.find('\n', start)) != std::string::npos; start = end + 1) {
        const auto answer = liuproto::Json::parse(client.output.substr(start, end - start));
        if (!answer.is_object() || !(answer.contains("ok") || answer.contains("event"))) {
            std::abort();
        }
        answers += answer.contains("ok") ? 1 : 0;
        watchesEnded +=
            answer.value("command", "") == "watch" && answer.value("interrupted", false);
    }
    if (answers + watchesEnded + (client.watching ? 1 : 0) != requests) {
        std::abort();
    }
    client.watching = false;
    return 0;
}
