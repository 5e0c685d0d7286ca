// What a port name stands for: a local device path or a port on another machine.
#pragma once

#include <QString>
#include <optional>

namespace zelnet_ports {

enum class TargetKind {
  Device,      // a device path: /dev/ttyUSB0, /dev/serial/by-id/...
  Rfc2217,     // rfc2217://HOST:PORT, telnet with the COM-PORT option
  Rfc2217Tls,  // rfc2217s://HOST:PORT, the same inside TLS with a client certificate
  Tcp,         // tcp://HOST:PORT, raw bytes only
  Gensio,      // gensio:STRING, any gensio stack
};

struct Target {
  TargetKind kind = TargetKind::Device;
  QString text;  // as written
  QString host;  // network kinds but Gensio
  quint16 port = 0;
  QString gensio;  // Gensio: the stack after "gensio:"
};

// Parses a target as written in a port map or on a command line. Returns nothing, with the reason
// in *error when given, for text that is none of the forms above.
std::optional<Target> ParseTarget(const QString& text, QString* error = nullptr);

inline bool IsNetwork(const Target& t) {
  return t.kind != TargetKind::Device;
}

}  // namespace zelnet_ports
