// SPDX-License-Identifier: MIT
#include "Protocol.h"

namespace liuproto {

namespace {

constexpr const char* kIndicationNames[kIndicationCount] = {"LOS",  "AIS",  "DF",
                                                            "TLOS", "PRBS", "EQ"};
constexpr const char* kStateNames[] = {"initial", "active", "inactive"};

// A word that must be one of two: true for the first, false for the second.
bool eitherWord(const Json& json, const char* first, const char* second) {
    const std::string& word = json.get_ref<const std::string&>();
    if (word != first && word != second) {
        throw Json::other_error::create(
            501, "'" + word + "' is neither " + first + " nor " + second, &json);
    }
    return word == first;
}

} // namespace

Json okAnswer(const std::string& command) {
    return {{"ok", true}, {"command", command}};
}

Json failedAnswer(const std::string& command, const std::string& error, int status) {
    Json answer = {{"ok", false}};
    if (!command.empty()) {
        answer["command"] = command;
    }
    answer["error"] = error;
    answer["status"] = status;
    return answer;
}

Envelope envelopeOf(const Json& answer) {
    Envelope envelope;
    if (!answer.is_object()) {
        envelope.error = "not an answer";
        envelope.status = 1;
        return envelope;
    }
    const auto ok = answer.find("ok");
    envelope.ok = ok != answer.end() && ok->is_boolean() && ok->get<bool>();
    const auto command = answer.find("command");
    if (command != answer.end() && command->is_string()) {
        envelope.command = command->get<std::string>();
    }
    if (!envelope.ok) {
        const auto error = answer.find("error");
        envelope.error =
            error != answer.end() && error->is_string() ? error->get<std::string>() : "failed";
        const auto status = answer.find("status");
        envelope.status =
            status != answer.end() && status->is_number_integer() ? status->get<int>() : 1;
    }
    return envelope;
}

const char* indicationName(Indication indication) {
    return kIndicationNames[static_cast<std::size_t>(indication) - 1];
}

std::optional<Indication> findIndication(std::string_view name) {
    for (const Indication indication : kIndications) {
        if (name == indicationName(indication)) {
            return indication;
        }
    }
    return std::nullopt;
}

void to_json(Json& json, Indication indication) {
    json = indicationName(indication);
}

void from_json(const Json& json, Indication& indication) {
    const auto found = findIndication(json.get_ref<const std::string&>());
    if (!found) {
        throw Json::other_error::create(501, "unknown indication", &json);
    }
    indication = *found;
}

const char* alarmStateName(AlarmState state) {
    return kStateNames[static_cast<std::size_t>(state)];
}

void to_json(Json& json, AlarmState state) {
    json = alarmStateName(state);
}

void from_json(const Json& json, AlarmState& state) {
    const std::string& word = json.get_ref<const std::string&>();
    for (std::size_t i = 0; i < std::size(kStateNames); ++i) {
        if (word == kStateNames[i]) {
            state = static_cast<AlarmState>(i);
            return;
        }
    }
    throw Json::other_error::create(501, "unknown alarm state '" + word + "'", &json);
}

void to_json(Json& json, const PortAlarms& alarms) {
    json = Json::object();
    for (const Indication indication : kIndications) {
        json[indicationName(indication)] = alarms[indication];
    }
}

void from_json(const Json& json, PortAlarms& alarms) {
    for (const Indication indication : kIndications) {
        json.at(indicationName(indication)).get_to(alarms[indication]);
    }
}

const char* changeName(bool active) {
    return active ? "active" : "cleared";
}

void to_json(Json& json, const AlarmEvent& event) {
    json = {{"event", "alarm"},
            {"port", event.port},
            {"indication", event.indication},
            {"state", changeName(event.active)},
            {"time", event.time}};
}

void from_json(const Json& json, AlarmEvent& event) {
    json.at("port").get_to(event.port);
    json.at("indication").get_to(event.indication);
    event.active = eitherWord(json.at("state"), "active", "cleared");
    json.at("time").get_to(event.time);
}

void to_json(Json& json, const ChipEvent& event) {
    json = {{"event", "chip"},
            {"state", event.answering ? "answering" : "silent"},
            {"time", event.time},
            {"failedTransfers", event.failedTransfers}};
}

void from_json(const Json& json, ChipEvent& event) {
    event.answering = eitherWord(json.at("state"), "answering", "silent");
    json.at("time").get_to(event.time);
    json.at("failedTransfers").get_to(event.failedTransfers);
}

bool isEvent(const Json& json) {
    return json.is_object() && json.contains("event");
}

Event eventOf(const Json& json) {
    const std::string& kind = json.at("event").get_ref<const std::string&>();
    if (kind == "alarm") {
        return json.get<AlarmEvent>();
    }
    if (kind == "chip") {
        return json.get<ChipEvent>();
    }
    throw Json::other_error::create(501, "unknown event '" + kind + "'", &json);
}

Json eventJson(const Event& event) {
    return std::visit([](const auto& which) { return Json(which); }, event);
}

void to_json(Json& json, const WatchChange& change) {
    json = {{"port", change.port},
            {"indication", change.indication},
            {"wentActive", change.wentActive},
            {"state", changeName(change.active)},
            {"since", change.since}};
}

void from_json(const Json& json, WatchChange& change) {
    json.at("port").get_to(change.port);
    json.at("indication").get_to(change.indication);
    json.at("wentActive").get_to(change.wentActive);
    change.active = eitherWord(json.at("state"), "active", "cleared");
    json.at("since").get_to(change.since);
}

} // namespace liuproto
