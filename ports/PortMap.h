// COM names to targets: the environment, the user's and the system's port map, then the
// machine's own ports in a stable order.
#pragma once

#include <QString>
#include <functional>

namespace zelnet_ports {

enum class Source {
  Environment,  // ZELNET_COM<n>
  UserMap,      // $XDG_CONFIG_HOME/zelnet/ports.conf
  SystemMap,    // /etc/zelnet/ports.conf
  Automatic,    // the machine's own ports in their stable order
  Literal,      // the name is not COM<n>: it is the target itself
};

struct Resolution {
  QString name;    // as asked: "COM1", "/dev/ttyUSB0", "rfc2217://host:3001"
  QString target;  // what opens it (empty when COM<n> has no target at all)
  Source source = Source::Literal;
  QString file;  // the map that names it, with its line, for the map sources
  int line = 0;
};

// Resolves a port name at the moment of the call (every open asks again). "COM<n>" (any case,
// n from 1) goes through the lookup order:
//   1. ZELNET_COM<n> in the environment;
//   2. the user's map, UserMapPath();
//   3. the system's map, SystemMapPath();
//   4. the automatic numbering: the COM names that nothing above names take, in order, the
//      machine's ports that no name above reaches, in the order of DiscoverPorts() (Discovery.h).
// Any other text is returned as its own target. A map's warnings go to standard error once per
// line and process (see SetWarningHandler). Safe to call from any thread.
Resolution Resolve(const QString& name);

// The number n of "COM<n>" (any case), or 0 for any other name.
int ComNumber(const QString& name);

// $XDG_CONFIG_HOME/zelnet/ports.conf, or ~/.config/zelnet/ports.conf when the variable is unset
// or not an absolute path.
QString UserMapPath();
// /etc/zelnet/ports.conf below SystemRoot().
QString SystemMapPath();

// "environment", "user map", "system map", "automatic", "as given".
QString SourceText(Source source);

// Where a map's warnings go: by default one line "PROGRAM: FILE:LINE: MESSAGE" on standard error.
// Each warning is passed once per process. An empty handler restores the default.
void SetWarningHandler(std::function<void(const QString& text)> handler);

}  // namespace zelnet_ports
