// SPDX-License-Identifier: MIT
// The IF-MIB as liu-snmp serves it for the chip's ports: the object
// identifiers of the columns it answers in ifTable and ifXTable, the
// notifications, and how a port's state becomes an interface's status.
// A DS1 interface has only the IF-MIB's general information: the LIU
// counts no octets or packets, so no counter is served.
#pragma once

#include "Ds1Mib.h"

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/types.h>

#include <cstddef>
#include <string>

namespace liusnmp {

// ifEntry: 1.3.6.1.2.1.2.2.1; ifXEntry: 1.3.6.1.2.1.31.1.1.1
inline constexpr oid kIfEntry[] = {1, 3, 6, 1, 2, 1, 2, 2, 1};
inline constexpr oid kIfXEntry[] = {1, 3, 6, 1, 2, 1, 31, 1, 1, 1};
// linkDown, linkUp: snmpTraps.3 and .4
inline constexpr oid kLinkDown[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 3};
inline constexpr oid kLinkUp[] = {1, 3, 6, 1, 6, 3, 1, 1, 5, 4};

// The columns of ifEntry and ifXEntry that a DS1 interface has.
namespace ifColumn {
enum : oid {
    Index = 1,
    Descr = 2,
    Type = 3,
    Speed = 5,
    PhysAddress = 6,
    AdminStatus = 7,
    OperStatus = 8,
    LastChange = 9,
};
} // namespace ifColumn
namespace ifXColumn {
enum : oid {
    Name = 1,
    LinkUpDownTrapEnable = 14,
    HighSpeed = 15,
    ConnectorPresent = 17,
    Alias = 18,
};
} // namespace ifXColumn

// ifType ds1(18): DS1, J1 and E1 alike.
inline constexpr long kIfTypeDs1 = 18;
inline constexpr long kTruthValueTrue = 1;

// ifAdminStatus and ifOperStatus values.
enum IfStatus : long {
    kIfUp = 1,
    kIfDown = 2,
    kIfTesting = 3,
    kIfUnknown = 4,
    kIfNotPresent = 6,
};

// up when the port's transmitter or receiver is powered, down when neither.
long adminStatus(bool present, const PortState& state);

// ifOperStatus: notPresent for a port liud does not configure; unknown
// while its state is not known; down when administratively down; testing
// while a loopback is on; down while LOS, AIS, DF or TLOS is active
// (traffic cannot pass one way or the other); up otherwise.
long operStatus(bool present, bool known, const PortState& state);

// What an ifOperStatus change notifies: linkDown entering down, linkUp
// leaving it, neither from or into notPresent.
enum class LinkChange { None, Up, Down };
LinkChange linkChange(long before, long after);

// ifSpeed in bits per second (0 while the line type is not known) and
// ifHighSpeed in millions (rounded: 2 for T1 and E1 alike).
long speed(const PortState& state);
long highSpeed(const PortState& state);

// ifName "liu0/2" and ifDescr of a port.
std::string interfaceName(unsigned port);
std::string interfaceDescription(unsigned port);

} // namespace liusnmp
