// SPDX-License-Identifier: MIT
#include "LiudClient.h"

namespace liusnmp {

bool LiudClient::connect(std::string& error) {
    close();
    if (!watch_.connect(path_, error)) {
        return false;
    }
    if (!requests_.connect(path_, error) || !watch_.send("watch\n")) {
        error = error.empty() ? path_ + ": liud closed the connection" : error;
        close();
        return false;
    }
    return true;
}

void LiudClient::close() {
    watch_.close();
    requests_.close();
}

bool LiudClient::readEvents(std::vector<Json>& events) {
    if (!connected()) {
        return false;
    }
    const bool open = watch_.receive();
    std::string line;
    try {
        while (watch_.takeLine(line)) {
            Json event = Json::parse(line);
            if (!event.contains("event")) {
                close(); // the watch ended: liud is going
                return false;
            }
            events.push_back(std::move(event));
        }
    } catch (const Json::exception&) {
        close();
        return false;
    }
    if (!open) {
        close();
    }
    return open;
}

std::optional<Json> LiudClient::request(const std::string& line,
                                        std::chrono::milliseconds timeout) {
    std::string answer;
    if (connected() && requests_.send(line + "\n") &&
        requests_.readLine(answer, timeout) == liutool::LineSocket::Read::Line) {
        try {
            return Json::parse(answer);
        } catch (const Json::exception&) {
        }
    }
    close();
    return std::nullopt;
}

} // namespace liusnmp
