// SPDX-License-Identifier: MIT
// liud's control protocol, written once: where the socket is, the envelope
// of every answer, the alarm indications and their states, the events a
// watch streams, and the status of liud and its ports.  liud writes these
// types; liuctl's text forms and liu-snmp read them back through the same
// types, so a field renamed on one side fails to build, not at run time.
//
// Reading (from_json) refuses an object that lacks a field or holds a value
// of another type with a Json::exception: an answer that is not what this
// protocol says is an error, never a default.
#pragma once

#include "Json.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace liuproto {

// Where liud listens unless its configuration says otherwise.
inline constexpr const char* kDefaultSocket = "/run/liud/liud.sock";

// ---- Answers ----------------------------------------------------------------------

// Every answer is one JSON object on one line:
//   {"ok":true,"command":NAME,...the command's fields}
//   {"ok":false,"command":NAME,"error":TEXT,"status":N,...fields filled before}
// "command" is absent when the request named no known command; "status" is
// the exit status the answer stands for (1 a refusal or failure, 2 a usage
// error).
struct Envelope {
    bool ok = false;
    std::string command; // empty: no known command
    std::string error;   // empty when ok
    int status = 0;
};

Json okAnswer(const std::string& command);
Json failedAnswer(const std::string& command, const std::string& error, int status);
// The envelope of an answer (any JSON value: one that is not an object, or
// lacks "ok", is a failed answer).
Envelope envelopeOf(const Json& answer);

// ---- Alarm indications --------------------------------------------------------------

// The six indications of a port, numbered as the library's alarm events.
enum class Indication : int { LOS = 1, AIS, DF, TLOS, PRBS, EQ };
inline constexpr std::size_t kIndicationCount = 6;
inline constexpr Indication kIndications[kIndicationCount] = {Indication::LOS,  Indication::AIS,
                                                              Indication::DF,   Indication::TLOS,
                                                              Indication::PRBS, Indication::EQ};

// "LOS", "AIS", "DF", "TLOS", "PRBS", "EQ"
const char* indicationName(Indication indication);
std::optional<Indication> findIndication(std::string_view name);
void to_json(Json& json, Indication indication);
void from_json(const Json& json, Indication& indication);

// An indication in liud's alarm state table: not seen active since liud
// started ("initial"), present at the last poll ("active"), or was active
// and is clear now ("inactive").
enum class AlarmState { Initial, Active, Inactive };
const char* alarmStateName(AlarmState state);
void to_json(Json& json, AlarmState state);
void from_json(const Json& json, AlarmState& state);

// A port's indications: {"LOS":"active","AIS":"initial",...}, all six.
struct PortAlarms {
    std::array<AlarmState, kIndicationCount> states{};

    AlarmState& operator[](Indication indication) {
        return states[static_cast<std::size_t>(indication) - 1];
    }
    AlarmState operator[](Indication indication) const {
        return states[static_cast<std::size_t>(indication) - 1];
    }
    bool active(Indication indication) const { return (*this)[indication] == AlarmState::Active; }
    bool operator==(const PortAlarms&) const = default;
};
void to_json(Json& json, const PortAlarms& alarms);
void from_json(const Json& json, PortAlarms& alarms);

// "active" or "cleared": the word of a change.
const char* changeName(bool active);

// ---- Events ----------------------------------------------------------------------------

// What a watch streams before its answer, one object a line, each with an
// "event" key.  An alarm change as liud logged it:
//   {"event":"alarm","port":2,"indication":"LOS","state":"active","time":T}
struct AlarmEvent {
    unsigned port = 0;
    Indication indication = Indication::LOS;
    bool active = false; // state "active" or "cleared"
    std::string time;    // UTC with milliseconds, the poll's
};
void to_json(Json& json, const AlarmEvent& event);
void from_json(const Json& json, AlarmEvent& event);

// The chip stopped answering (every transfer of a poll failed) or answers
// again (a poll without a failed transfer):
//   {"event":"chip","state":"silent","time":T,"failedTransfers":N}
struct ChipEvent {
    bool answering = true; // state "answering" or "silent"
    std::string time;
    std::uint64_t failedTransfers = 0; // since liud started
};
void to_json(Json& json, const ChipEvent& event);
void from_json(const Json& json, ChipEvent& event);

using Event = std::variant<AlarmEvent, ChipEvent>;
// True for a line of a watch that is an event rather than an answer.
bool isEvent(const Json& json);
// Throws Json::exception for an object that is no event this protocol knows.
Event eventOf(const Json& json);
Json eventJson(const Event& event);

// What a watch saw of one port's indication, in its final answer
// ("changes"): how often it went active, its state at the end and since when.
struct WatchChange {
    unsigned port = 0;
    Indication indication = Indication::LOS;
    int wentActive = 0;
    bool active = false; // state "active" or "cleared"
    std::string since;
};
void to_json(Json& json, const WatchChange& change);
void from_json(const Json& json, WatchChange& change);

// ---- Status ----------------------------------------------------------------------------

// A reference clock output: the port the running configuration gives it
// (none: not configured) and the port the chip's register 0x07 names (none:
// not read).
struct RefClockOutput {
    std::optional<unsigned> configured;
    std::optional<unsigned> chip;
};
LIUPROTO_FIELDS(RefClockOutput, configured, chip)

// Reference clock outputs A and B.
struct RefClocks {
    RefClockOutput A;
    RefClockOutput B;
};
LIUPROTO_FIELDS(RefClocks, A, B)

// liud itself: what it runs with and what it counted.
struct DaemonStatus {
    std::string version;
    long pid = 0;
    std::string started; // UTC
    std::string config;  // the configuration file
    std::string inout;   // "symmetrical" or "asymmetrical"
    unsigned ports = 0;
    long long scanIntervalMs = 0; // 0: no scan, the full poll alone
    long long pollIntervalMs = 0;
    double auditIntervalS = 0; // 0: no audit
    std::uint64_t scans = 0;
    std::uint64_t polls = 0;
    std::string lastPoll;
    std::optional<std::string> lastAudit;
    std::uint64_t failedTransfers = 0;
    std::uint64_t driftsRepaired = 0;
    std::size_t clients = 0;
    // False while the chip does not answer (a poll whose every transfer
    // failed), true again after a poll without a failed transfer; since
    // when (nothing: since liud started).
    bool chipAnswering = true;
    std::optional<std::string> chipSince;
    RefClocks refClocks;
};
LIUPROTO_FIELDS(DaemonStatus, version, pid, started, config, inout, ports, scanIntervalMs,
                pollIntervalMs, auditIntervalS, scans, polls, lastPoll, lastAudit, failedTransfers,
                driftsRepaired, clients, chipAnswering, chipSince, refClocks)

// A port as liud's running configuration has it (the file, and the
// control clients' settings since the last reload).
struct ConfiguredPort {
    std::string lineType; // "E1", "T1", "JT1"
    int lineCode = 1;
    std::optional<int> buildOut;   // 1..4, none unless given
    std::optional<int> lineLength; // 1..5, none unless given
    int haul = 2;
    bool remoteLoop = false;
    bool analogLoop = false;
    bool digitalLoop = false;
    bool txPower = false;
    bool rxPower = false;
    std::optional<std::string> framing; // reported only
    std::string circuit;                // reported only
};
LIUPROTO_FIELDS(ConfiguredPort, lineType, lineCode, buildOut, lineLength, haul, remoteLoop,
                analogLoop, digitalLoop, txPower, rxPower, framing, circuit)

// A port as the chip holds it, read when the status was asked for.  A value
// is null when its read failed or the library could not decode it; complete
// is false when a transfer failed.
struct ChipPort {
    bool complete = false;
    std::optional<std::string> lineType; // from the three registers below
    unsigned modeRegister = 0;           // 0x20 bit 0
    unsigned terminationRegister = 0;    // 0x32
    unsigned templateCodeRegister = 0;   // 0x23
    std::optional<int> lineCode;
    std::optional<int> haul;
    std::optional<bool> remoteLoop;
    std::optional<bool> analogLoop;
    std::optional<bool> digitalLoop;
    std::optional<bool> txPower;
    std::optional<bool> rxPower;
};
LIUPROTO_FIELDS(ChipPort, complete, lineType, modeRegister, terminationRegister,
                templateCodeRegister, lineCode, haul, remoteLoop, analogLoop, digitalLoop, txPower,
                rxPower)

struct PortStatus {
    unsigned port = 0;
    ConfiguredPort config;
    ChipPort chip;
    // liud's latest poll; the last known states while alarmsKnown is false
    // (a transfer of the port failed since its last clean poll).
    PortAlarms alarms;
    bool alarmsKnown = true;
    std::optional<std::string> lastChange; // the port's last alarm change
};
LIUPROTO_FIELDS(PortStatus, port, config, chip, alarms, alarmsKnown, lastChange)

// The fields of the status answer beside its envelope.
struct Status {
    DaemonStatus daemon;
    std::vector<PortStatus> ports;
};
LIUPROTO_FIELDS(Status, daemon, ports)

} // namespace liuproto
