// SPDX-License-Identifier: MIT
#include "StatusReport.h"

#include "ChipNames.h"
#include "Configurator.h"
#include "TraceTap.h"

#include "LiuDrv.h"

#include <unistd.h>

namespace liud {

namespace {

liuproto::ConfiguredPort configuredPort(const PortConfig& port) {
    liuproto::ConfiguredPort configured;
    configured.lineType = liucmd::lineTypeName(port.value(SettingId::LineType));
    configured.lineCode = port.value(SettingId::LineCode);
    if (port.has(SettingId::BuildOut)) {
        configured.buildOut = port.value(SettingId::BuildOut);
    }
    if (port.has(SettingId::LineLength)) {
        configured.lineLength = port.value(SettingId::LineLength);
    }
    configured.haul = port.value(SettingId::Haul);
    configured.remoteLoop = port.value(SettingId::RemoteLoop) != 0;
    configured.analogLoop = port.value(SettingId::AnalogLoop) != 0;
    configured.digitalLoop = port.value(SettingId::DigitalLoop) != 0;
    configured.txPower = port.value(SettingId::TxPower) != 0;
    configured.rxPower = port.value(SettingId::RxPower) != 0;
    configured.framing = port.framing;
    configured.circuit = port.circuit;
    return configured;
}

liuproto::ChipPort chipPort(const PortReadBack& readBack, int inout) {
    liuproto::ChipPort chip;
    chip.complete = readBack.complete;
    const int lineType = liucmd::lineTypeOfRegisters(readBack.line, inout);
    if (lineType != 0) {
        chip.lineType = liucmd::lineTypeName(lineType);
    }
    chip.modeRegister = readBack.line.modeBit;
    chip.terminationRegister = readBack.line.termination;
    chip.templateCodeRegister = readBack.line.templateCode;
    const auto number = [&](SettingId id) -> std::optional<int> {
        const int value = readBack.values[static_cast<std::size_t>(id)];
        return value < 0 ? std::nullopt : std::optional<int>(value);
    };
    const auto flag = [&](SettingId id) -> std::optional<bool> {
        const auto value = number(id);
        return value ? std::optional<bool>(*value != 0) : std::nullopt;
    };
    chip.lineCode = number(SettingId::LineCode);
    chip.haul = number(SettingId::Haul);
    chip.remoteLoop = flag(SettingId::RemoteLoop);
    chip.analogLoop = flag(SettingId::AnalogLoop);
    chip.digitalLoop = flag(SettingId::DigitalLoop);
    chip.txPower = flag(SettingId::TxPower);
    chip.rxPower = flag(SettingId::RxPower);
    return chip;
}

} // namespace

liuproto::Status statusReport(const Running& running, const AlarmMonitor& monitor,
                              const BusHealth& health, std::size_t clients,
                              const std::vector<std::uint16_t>& ports) {
    const Config& config = running.config;
    liuproto::Status status;
    liuproto::DaemonStatus& daemon = status.daemon;
    daemon.version = LIU_VERSION;
    daemon.pid = static_cast<long>(getpid());
    daemon.started = running.started;
    daemon.config = config.path;
    daemon.inout = liucmd::inoutName(config.inout);
    daemon.ports = config.ports;
    daemon.scanIntervalMs = config.scanInterval.count();
    daemon.pollIntervalMs = config.pollInterval.count();
    daemon.scans = monitor.scans();
    daemon.auditIntervalS = std::chrono::duration<double>(config.auditInterval).count();
    daemon.polls = monitor.polls();
    daemon.lastPoll = liucmd::utcTimestamp(monitor.lastPollTime());
    daemon.lastAudit = running.lastAudit;
    daemon.failedTransfers = failedTransfers();
    daemon.driftsRepaired = running.driftsRepaired;
    daemon.clients = clients;
    daemon.chipAnswering = health.answering();
    daemon.chipSince = health.since();
    daemon.refClocks.A.configured = config.refClocks[0];
    daemon.refClocks.B.configured = config.refClocks[1];
    std::uint8_t refClocks = 0;
    if (liuDrv_read(liucmd::kRefClockRegister, LIUDRV_CHANNEL_GLOBAL, &refClocks) == 0) {
        const liucmd::RefClockPorts chip = liucmd::refClockPorts(refClocks);
        daemon.refClocks.A.chip = chip.a;
        daemon.refClocks.B.chip = chip.b;
    }
    const liucmd::AlarmSnapshot& snapshot = monitor.snapshot();
    for (const std::uint16_t port : ports) {
        liuproto::PortStatus row;
        row.port = port;
        row.config = configuredPort(config.portConfigs[port]);
        row.chip = chipPort(Configurator::readBack(port), config.inout);
        row.alarms = liucmd::portAlarms(snapshot.table, port);
        row.alarmsKnown = monitor.known(port);
        row.lastChange = monitor.lastChange(port);
        status.ports.push_back(std::move(row));
    }
    return status;
}

} // namespace liud
