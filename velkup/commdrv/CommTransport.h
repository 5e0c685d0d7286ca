// What TCommDrv drives: one open line, a local serial port (QSerialPort) or a port on another
// machine (the port library's network line). The component keeps its properties, its polling
// timer and its pause counter; the transport moves the bytes and the line settings.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

namespace velkup {

class TLineStatusSet;

struct TLineSettings {
  uint32_t baud = 0;
  int dataBits = 8;  // 5..8
  int parity = 0;    // TParity
  int stopBits = 0;  // TStopBits
  uint32_t inBufSize = 2048;
};

class TCommTransport {
 public:
  virtual ~TCommTransport() = default;

  // The native descriptor of a local port; -1 for a network line.
  virtual qintptr Handle() const = 0;
  // Applies the line settings (no flow control), then purges both directions. A line that
  // cannot take them (a server that does not confirm the baud rate) returns false.
  virtual bool Apply(const TLineSettings& settings) = 0;
  // Raises or lowers RTS (rts) or DTR (!rts); a line that cannot switch it stays usable.
  virtual void SetLine(bool rts, bool on) = 0;
  // Bytes received and not yet read; bytes not yet gone out.
  virtual uint32_t InQueue() = 0;
  virtual uint32_t OutQueue() = 0;
  virtual bool Flush(bool input, bool output) = 0;
  virtual TLineStatusSet LineStatus() = 0;
  // Writes count bytes, giving the line at most outBufSize at a time, until every byte is gone
  // or timeoutMs pass without progress; returns the count taken. What is not taken is dropped.
  virtual uint32_t Send(const char* data, uint32_t count, uint32_t timeoutMs,
                        uint32_t outBufSize) = 0;
  // Reads into `into` until count bytes have come or none has come for timeoutMs; the count.
  virtual uint32_t Receive(char* into, uint32_t count, uint32_t timeoutMs) = 0;
  // What has already arrived, up to max bytes, without waiting.
  virtual uint32_t TakeAvailable(char* into, uint32_t max) = 0;
  // True once the device or the connection has gone away (hang-up, unplugged, dropped).
  virtual bool Lost() = 0;
};

// Opens what a port's target names: a device through QSerialPort, a network target through the
// port library. Null when it cannot be opened, with the reason in `problem` when there is one to
// tell beyond "not there".
std::unique_ptr<TCommTransport> OpenTransport(const QString& target, QString& problem);

}  // namespace velkup
