// TComPort: Velkor's access to the serial line. Opens and configures a COM port for the ZELNET
// line settings, switches RTS, writes one frame and reads one answer frame byte by byte under a
// time-out, checking its check code. The open port's handle belongs to the caller (the main
// window), which passes it into every operation and releases it with ClosePort.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "AnswerAssembler.h"
#include "Crc.h"
#include "SerialLine.h"

class QTimer;

namespace velkor {

// The open port; null while none is open.
using LineHandle = SerialLine*;

// Returned by ReadAnswer when another read is already waiting on the line.
inline constexpr int kAnswerBusy = -5;

// The device path behind a port name. Built for Windows, the name itself. Elsewhere "COM<n>" is
// the path in the environment variable ZELNET_COM<n> when it is set and not empty, else
// /dev/ttyS<n-1>; other names are used as given.
QString ResolvePortPath(const QString& name);

// Releases an open port and sets the handle to null. Does nothing for a null handle.
void ClosePort(LineHandle& handle);

class TComPort {
 public:
  // `timerComPort` is the owner's one-shot timer that bounds every answer read: ReadAnswer sets
  // its interval and starts it, and the read ends with a time-out once it is no longer active.
  // `framing` says where an answer ends and how long a request is.
  TComPort(QTimer& timerComPort, const LineFraming& framing);

  TDcb Dcb;
  TCommTimeouts Timeouts;

  // How a device path is opened. Defaults to a real serial port; tests may wrap it.
  std::function<std::unique_ptr<SerialLine>(const QString& path)> Opener;

  // Opens "COM" + digit at the given baud rate with 8 data bits, no parity, one stop bit and RTS
  // low. Returns null when the port cannot be opened or refuses the settings.
  LineHandle OpenPort(char digit, uint32_t baud);

  // Raises or lowers RTS on an open port; returns whether the line could switch it.
  bool SetRts(bool on, LineHandle handle);

  // Writes the frame in `frame`, as long as it announces.
  // Returns the count written, 65535 for a null handle, and 0 without writing when the announced
  // length is below 6 or beyond the buffer, or while a read waits on the line.
  uint32_t WriteFrame(std::span<const uint8_t> frame, LineHandle handle);

  // Reads one answer into `buffer` from byte 0 within ticks x 10 ms. Returns the answer's length,
  // or kAnswerTimeOut, kAnswerCrcError (also for an answer that cannot fit or whose announced
  // length can never be reached), kAnswerBadStatistics, kAnswerInvalidCommand (see
  // ClassifyAnswer), or kAnswerBusy when another read is already waiting. Pending window events
  // are processed while the line is silent.
  int ReadAnswer(std::span<uint8_t> buffer, int ticks, uint8_t code, LineHandle handle);

  // Whether a ReadAnswer is waiting for its answer.
  bool Reading() const { return reading_; }

 private:
  void DrainRest(LineHandle handle);

  QTimer& timerComPort_;
  const LineFraming& framing_;
  bool reading_ = false;
};

}  // namespace velkor
