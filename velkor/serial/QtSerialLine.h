// SerialLine over QSerialPort.
#pragma once

#include <QSerialPort>
#include <QString>
#include <memory>

#include "SerialLine.h"

namespace velkor {

class QtSerialLine final : public SerialLine {
 public:
  // Opens the device at `path` for exclusive reading and writing; null when it cannot be opened.
  // A read or resource error closes the port soon after (never inside one of its waits).
  static std::unique_ptr<SerialLine> Open(const QString& path);

  bool GetState(TDcb& dcb) override;
  bool SetState(const TDcb& dcb) override;
  bool SetRts(bool high) override;
  size_t Write(const uint8_t* data, size_t size, int timeoutMs) override;
  int ReadByte(uint8_t& byte, int waitMs) override;

 private:
  QSerialPort port_;
};

}  // namespace velkor
