// COM names to targets: the environment, the user's and the system's port map, then the
// machine's own ports in a stable order.
#pragma once

#include <QString>

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
};

// Resolves a port name at the moment of the call (every open asks again). "COM<n>" (any case,
// n from 1) goes through the lookup order; any other text is returned as its own target.
Resolution Resolve(const QString& name);

// "environment", "user map", "system map", "automatic", "as given".
QString SourceText(Source source);

}  // namespace zelnet_ports
