// SPDX-License-Identifier: MIT
#include "LiudLink.h"

#include <cerrno>

namespace liuctl {

namespace {

// Longest wait for an answer that is not a streaming command's.
constexpr std::chrono::milliseconds kAnswerTimeout(30000);

} // namespace

LiudLink::LiudLink(const std::string& path, const Printer& printer)
    : path_(path), printer_(printer) {
    std::string why;
    if (!connect(why)) {
        throw liucmd::Failure(why);
    }
    const Json state = run({"state"});
    const liuproto::Envelope envelope = liuproto::envelopeOf(state);
    if (!envelope.ok) {
        // liud's own refusal (too many clients), or it went away at once.
        throw liucmd::Failure(envelope.command.empty() ? "liud at " + path + ": " + envelope.error
                                                       : envelope.error);
    }
    ports_ = state.value("liuDrv_maxPorts", liucmd::kChipPorts);
    attached_ = true;
}

bool LiudLink::connect(std::string& why) {
    std::string reason;
    if (socket_.connect(path_, reason)) {
        return true;
    }
    const int error = errno;
    why = error == ENAMETOOLONG ? "socket path too long: " + path_
                                : "cannot connect to liud at " + reason +
                                      (error == ENOENT || error == ECONNREFUSED
                                           ? " (is liud running? --standalone runs the "
                                             "library in liuctl)"
                                           : "");
    return false;
}

Json LiudLink::run(const std::vector<std::string>& words) {
    const liucmd::CommandEntry* entry = words.empty() ? nullptr : liucmd::findCommand(words[0]);
    if (entry != nullptr && !entry->has(liucmd::kAtChip)) {
        ClientContext local;
        return liucmd::runCommand(local, words);
    }
    const std::string name = entry != nullptr ? entry->name : "";
    // liud closes a connection idle for its client timeout (with a line
    // saying so): a session that waited longer connects again first.
    std::string why;
    if (attached_ && socket_.isOpen() && !socket_.receive() && !connect(why)) {
        return liuproto::failedAnswer(name, why, liucmd::kExitFailure);
    }
    if (!socket_.isOpen() || !socket_.send(liucmd::joinWords(words) + "\n")) {
        // liud may have said why before it closed (too many clients).
        std::string line;
        if (socket_.isOpen() && (socket_.receive(), socket_.takeLine(line))) {
            const Json answer = Json::parse(line, nullptr, false);
            if (answer.is_object() && !liuproto::isEvent(answer)) {
                return answer;
            }
        }
        return liuproto::failedAnswer(name, "liud at " + path_ + " has gone", liucmd::kExitFailure);
    }
    const bool streams = entry != nullptr && entry->has(liucmd::kStreams);
    bool stopSent = false;
    // Ctrl-C ends a streaming command: any line from the client does.
    const auto stopOnInterrupt = [&] {
        if (streams && !stopSent && interrupts::interrupted != 0) {
            stopSent = socket_.send("\n");
        }
    };
    std::string line;
    liutool::LineSocket::Read read;
    while ((read = socket_.readLine(line, streams ? std::chrono::milliseconds(-1) : kAnswerTimeout,
                                    stopOnInterrupt)) == liutool::LineSocket::Read::Line) {
        Json answer = Json::parse(line, nullptr, false);
        if (answer.is_discarded() || !answer.is_object()) {
            return liuproto::failedAnswer(name, "liud answered something that is not JSON: " + line,
                                          liucmd::kExitFailure);
        }
        if (liuproto::isEvent(answer)) {
            printer_.event(answer);
            continue;
        }
        return answer;
    }
    const std::string reason =
        read == liutool::LineSocket::Read::TimedOut ? "did not answer" : "closed the connection";
    socket_.close();
    return liuproto::failedAnswer(name, "liud at " + path_ + " " + reason, liucmd::kExitFailure);
}

} // namespace liuctl
