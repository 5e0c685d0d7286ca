// Whether a target can be opened now, and if not why, with the fix where there is one: the
// diagnostics of zelnet-ports and of the programs' records.
#pragma once

#include <QString>
#include <cstdint>

namespace zelnet_ports {

enum class PortState {
  Present,           // a serial device that this user can open now
  Missing,           // nothing at the path, or no hardware behind it
  PermissionDenied,  // the device is there but this user may not open it
  InUse,             // another process holds it
  NotSerial,         // something that is not a serial device
  NotChecked,        // a network port: not checked here
  Reachable,         // a network port that answered as its kind should
  Unreachable,       // a network port that refused, never answered or failed its handshake
  Unassigned,        // the COM name has no target at all
};

struct PortCheck {
  PortState state = PortState::Unassigned;
  QString detail;           // what was found: "in use by velkor (pid 4242)", "no such file", ...
  QString fix;              // what the user can do about it, or empty
  uint32_t remoteBaud = 0;  // a reachable RFC 2217 port: its current baud rate, 0 when unknown
  // Present, reachable or not checked: nothing speaks against opening it.
  bool Usable() const {
    return state == PortState::Present || state == PortState::Reachable ||
           state == PortState::NotChecked;
  }
  // The state in words with what was found: "missing: no such file or directory", "in use by
  // velkor (pid 4242)" (the detail alone where it already says the state).
  QString Reason() const;
};

// Checks the target as the programs would open it. A device is opened briefly (without becoming
// its controlling terminal and without waiting for a carrier) and closed again. A network target
// is reported NotChecked, unless `probeNetwork` asks to open it as a program would (bounded like
// every network open): then Reachable, with what it offers in `detail`, or Unreachable.
PortCheck CheckTarget(const QString& target, bool probeNetwork = false);

// "present", "missing", "permission denied", "in use", "not a serial device", "network",
// "reachable", "unreachable", "unassigned".
QString StateText(PortState state);

// "in use by velkor (pid 4242)" for the first other process that holds `devicePath`: its UUCP
// lock file in /run/lock, /var/lock or /tmp, or, but for a pseudo-terminal (always held by the
// program that made it), its open files in /proc. Empty when none is found.
QString FindHolder(const QString& devicePath);

}  // namespace zelnet_ports
