// SerialLine over a port on another machine (the port library's network line): RFC 2217 carries
// the baud rate and RTS to the remote port, raw TCP only the bytes.
#pragma once

#include <QString>
#include <memory>

#include "GensioLine.h"
#include "SerialLine.h"

namespace velkor {

class NetSerialLine final : public SerialLine {
 public:
  // Opens the target within the library's bound; null with the reason in `problem`.
  static std::unique_ptr<SerialLine> Open(const zelnet_ports::Target& target, QString& problem);

  bool GetState(TDcb& dcb) override;
  // Applies the baud rate on the remote port and checks the server's answer (8N1 is what the
  // remote port is served with); RTS follows without waiting for an acknowledgement.
  bool SetState(const TDcb& dcb) override;
  bool SetRts(bool high) override;
  size_t Write(const uint8_t* data, size_t size, int timeoutMs) override;
  int ReadByte(uint8_t& byte, int waitMs) override;

 private:
  explicit NetSerialLine(std::unique_ptr<zelnet_ports::NetLine> line) : line_(std::move(line)) {}

  std::unique_ptr<zelnet_ports::NetLine> line_;
  TDcb dcb_;
};

// Opens whatever a port name resolves to: a device through QSerialPort, a network target
// through the port library. Null, with the reason in `problem` when there is one to tell
// beyond "not there", when it cannot be opened.
std::unique_ptr<SerialLine> OpenLine(const QString& target, QString& problem);

}  // namespace velkor
