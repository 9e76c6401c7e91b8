// SPDX-License-Identifier: MIT
// The chip's ports as liu-snmp serves them, one Line each: an interface of
// the IF-MIB from liud's first status on, and a row of dsx1ConfigTable
// while liud has the port.  Lines takes what liud reports (its status, the
// alarm and chip events of its watch, its going away), keeps each line's
// dsx1LineStatus and ifOperStatus with the time they last changed, and
// hands each change to LineEvents: the log and the notifications.  It
// knows nothing of net-snmp's requests.
#pragma once

#include "Config.h"
#include "Ds1Mib.h"
#include "IfMib.h"
#include "Log.h"
#include "Protocol.h"

#include <array>
#include <string>

namespace liusnmp {

// TimeTicks of sysUpTime: hundredths of a second.
using Ticks = unsigned long;

// sysUpTime as the AgentX master counts it.
class Uptime {
  public:
    virtual ~Uptime() = default;
    virtual Ticks now() const = 0;
    // sysUpTime at a UTC time, seconds since the epoch: now for a time
    // ahead, 0 for one before sysUpTime began.
    virtual Ticks at(double utcSeconds) const = 0;
};

struct Line {
    unsigned port = 0;
    long index = 0;       // ifIndex = dsx1LineIndex = dsx1IfIndex
    bool present = false; // in liud's latest status: a row of dsx1ConfigTable
    bool known = false;   // its state read from the chip, by a liud that is there
    PortState state;      // liud's latest status and the alarm events since
    long lineStatus = kNoAlarm;
    Ticks lineStatusChanged = 0; // dsx1LineStatusLastChange
    long adminStatus = kIfDown;
    long operStatus = kIfUnknown;
    Ticks operChanged = 0;              // ifLastChange
    long lineStatusTrap = kTrapEnabled; // dsx1LineStatusChangeTrapEnable
    long linkTrap = kTrapEnabled;       // ifLinkUpDownTrapEnable
};

// Where the lines' changes go.
class LineEvents {
  public:
    virtual ~LineEvents() = default;
    virtual void log(liutool::Priority priority, const std::string& message) = 0;
    // dsx1LineStatusChange of the line.
    virtual void lineStatusChange(const Line& line) = 0;
    // linkUp or linkDown of the line.
    virtual void link(const Line& line, bool up) = 0;
};

class Lines {
  public:
    Lines(const Config& config, const Uptime& uptime, LineEvents& events);

    // No rows until liud's first status.
    bool reached() const { return reached_; }
    // liud answered and has not gone since.
    bool liudThere() const { return reached_ && !away_; }

    // liud's status: each port's state again.  The first one makes the
    // rows and notifies nothing; after it, every change is notified.
    void status(const liuproto::Status& status);
    // An event of liud's watch; one from before the latest status (which
    // has it already) changes nothing.
    void event(const liuproto::Event& event);
    // liud went: no line's state is known until it is back.
    void liudGone();
    // sysUpTime began again ticks later (a new master): the times of the
    // changes moved onto the new count, 0 for one from before it began.
    void moveTimes(double ticks);

    // The line of an ifIndex; nullptr for none.
    Line* find(long index);
    const std::array<Line, kChipPorts>& all() const { return lines_; }

  private:
    // A line's statuses again; each change timed at, logged and notified
    // where its notification is enabled.
    void refresh(Line& line, Ticks at, bool notify);
    Ticks ticksOf(const std::string& utc) const;

    const Uptime& uptime_;
    LineEvents& events_;
    const Config& config_;
    std::array<Line, kChipPorts> lines_{};
    bool reached_ = false;
    bool away_ = false;
    bool chipAnswering_ = true;
    std::string statusPoll_; // the liud poll the lines reflect
};

} // namespace liusnmp
