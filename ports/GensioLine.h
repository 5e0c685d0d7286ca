// A serial line on another machine: an RFC 2217 port (optionally inside TLS with a client
// certificate), a raw TCP port, or any gensio stack. The network library stays behind this
// header: nothing here names one of its types, so a newer version of it touches one file.
//
// Every wait is bounded. An open that cannot complete (refused, accepted but silent, a telnet
// negotiation that never ends) fails within its time-out; a connection that drops is a lost
// line: every later read returns at once with nothing and every write writes nothing.
// A line may be used from any one thread at a time; several lines may live on several threads.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "Target.h"

namespace zelnet_ports {

// How long an open of a network target may take, whatever the server does.
inline constexpr int kNetOpenTimeoutMs = 2000;

// The client certificate, its key and the CA that signs the servers' certificates, for
// rfc2217s:// targets: client.crt, client.key and ca.crt in $XDG_CONFIG_HOME/zelnet/tls/
// (~/.config/zelnet/tls/), or in /etc/zelnet/tls/ when the user's folder has no client.crt.
struct TlsFiles {
  QString dir;
  QString cert;
  QString key;
  QString ca;
};

// The files to use; false with the reason (naming the folders looked at) when one is missing.
bool FindTlsFiles(TlsFiles& files, QString& error);

// The stack that opens a network target ("telnet(rfc2217),tcp,HOST,PORT" and so on); empty,
// with the reason, when it cannot be formed (a device path, a TLS file missing).
QString GensioStack(const Target& target, QString& error);

class NetLine {
 public:
  // Opens a network target within timeoutMs. For rfc2217 kinds the server must agree to the
  // COM-PORT option (the remote port's baud rate is asked for); TLS must verify both ways.
  // Null with a reason that names the target when any of it fails; *answered (when given)
  // tells whether the server took part at all (it refused the option or our certificate, rather
  // than refusing the connection or never answering).
  static std::unique_ptr<NetLine> Open(const Target& target, QString& error,
                                       int timeoutMs = kNetOpenTimeoutMs, bool* answered = nullptr);
  ~NetLine();
  NetLine(const NetLine&) = delete;
  NetLine& operator=(const NetLine&) = delete;

  // Whether the baud rate and the modem lines cross this line (RFC 2217 and RFC 2217 over TLS;
  // a gensio stack when it offers serial controls). Raw TCP carries bytes only.
  bool CarriesSignals() const;

  // Sets the remote port's baud rate and waits at most waitMs for the server's answer; true
  // only when the server reports that rate back. Without signals: true (nothing to set).
  bool SetBaud(uint32_t baud, int waitMs = 1000);
  // The remote port's baud rate as the server reports it; 0 when it does not within waitMs.
  uint32_t QueryBaud(int waitMs = 1000);

  // Ask the remote port to raise or lower RTS (DTR). The request leaves at once, in order with
  // the bytes written; the server's acknowledgement is not waited for (a server on a
  // pseudo-terminal never sends it). False when it could not be sent or the line has no signals.
  bool SetRts(bool high);
  bool SetDtr(bool high);

  // Writes the bytes as they are (0xFF included), waiting at most timeoutMs for the network to
  // take them; returns the count taken.
  size_t Write(const uint8_t* data, size_t size, int timeoutMs);
  // Reads up to max bytes, waiting at most waitMs for the first; returns the count (0 when
  // none came or the line is lost).
  size_t Read(uint8_t* into, size_t max, int waitMs);
  // Bytes received and not yet read.
  size_t Available() const;
  // Drops what was received and not read.
  void ClearInput();

  // True once the connection has dropped; the reason says how.
  bool Lost() const;
  QString LostReason() const;

  const Target& target() const { return target_; }

  struct Core;

 private:
  NetLine(const Target& target, std::shared_ptr<Core> core);

  Target target_;
  std::shared_ptr<Core> core_;
};

// What zelnet-ports shows for a network target.
struct NetCheck {
  bool reachable = false;    // the connection (and TLS, for rfc2217s) was made
  bool negotiated = false;   // the server agreed to RFC 2217
  bool tlsVerified = false;  // rfc2217s: both certificates verified
  uint32_t baud = 0;         // the remote port's current baud rate, 0 when unknown
  QString problem;           // empty when everything the kind offers works
};

// Opens the target as a program would, reads the remote baud rate and closes it again.
NetCheck CheckNetTarget(const Target& target, int timeoutMs = kNetOpenTimeoutMs);

}  // namespace zelnet_ports
