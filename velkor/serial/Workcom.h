// TComPort: Velkor's access to the serial line. Opens and configures a COM port for the ZELNET
// line settings, switches RTS, writes one frame and reads one answer frame byte by byte under a
// time-out, checking its check code. It owns the open port and the timer that bounds the reads.
#pragma once

#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "AnswerAssembler.h"
#include "PortCheck.h"
#include "PortMap.h"
#include "SerialLine.h"

namespace velkor {

// Returned by ReadAnswer when another read is already waiting on the line.
inline constexpr int kAnswerBusy = -5;

// The target behind a port name, as the port library resolves it (on Windows the name itself).
QString ResolvePortPath(const QString& name);

// One open of a COM name: the target and source the port library gave it and, for a device that
// did not open, the library's check of it (Unassigned when not checked).
struct PortAttempt {
  zelnet_ports::Resolution where;
  bool opened = false;
  zelnet_ports::PortCheck check;
};

// The session log's line for an attempt: "COM1: /dev/ttyUSB0 (user map)", with " - " and the
// reason for a device that is not there.
QString PortAttemptLine(const PortAttempt& attempt);
// Whether a user can do something about the failure (permission, another program holding the
// port, a path that is no serial device), as opposed to a port that is just not there.
bool PortAttemptNeedsFix(const PortAttempt& attempt);

class TComPort {
 public:
  // `framing` says where an answer ends and how long a request is.
  explicit TComPort(const LineFraming& framing);
  ~TComPort();

  TDcb Dcb;

  // How a target (a device path or a network port) is opened: null when it cannot be. Defaults
  // to OpenLine (NetSerialLine.h), whose reasons OpenProblem() gives; tests may wrap it.
  using LineOpener = std::function<std::unique_ptr<SerialLine>(const QString& target)>;
  LineOpener Opener;
  // Told of every OpenPort: which target the name led to and how the open went (a failure to fix
  // is also OpenProblem()).
  std::function<void(const PortAttempt&)> OnOpen;

  // Opens "COM" + digit at the given baud rate with 8 data bits, no parity, one stop bit and RTS
  // low, in place of the port open before, if any. Returns whether a port is open afterwards: not
  // when it cannot be opened or refuses the settings.
  bool OpenPort(char digit, uint32_t baud);
  // The target the last OpenPort tried, and why it failed (empty when it opened, or when the
  // port is simply not there).
  const QString& LastTarget() const { return lastTarget_; }
  const QString& OpenProblem() const { return openProblem_; }
  // Releases the open port, if any. Under a waiting read the port is released when the read ends.
  void ClosePort();
  bool IsOpen() const { return PortHandle != nullptr; }

  // Raises or lowers RTS on the open port; returns whether the line could switch it.
  bool SetRts(bool on);

  // Writes the frame in `frame`, as long as it announces. Returns the count written, 65535
  // without an open port, and 0 without writing when the announced length is below 6 or beyond
  // the buffer, or while a read waits on the line.
  uint32_t WriteFrame(std::span<const uint8_t> frame);

  // Reads one answer into `buffer` from byte 0 within ticks x 10 ms. Returns the answer's length,
  // or kAnswerTimeOut (also without an open port), kAnswerCrcError (also for an answer that
  // cannot fit or whose announced length can never be reached), kAnswerBadStatistics,
  // kAnswerInvalidCommand (see ClassifyAnswer), or kAnswerBusy when another read is already
  // waiting. Pending window events are processed while the line is silent.
  int ReadAnswer(std::span<uint8_t> buffer, int ticks, uint8_t code);

  // Whether a ReadAnswer is waiting for its answer.
  bool Reading() const { return reading_; }

  // The handler of TimerComPort: it stops the timer, so a waiting read ends as a time-out at its
  // next empty read.
  void TimerComPortTimer() { TimerComPort.stop(); }

 private:
  void DrainRest(SerialLine& line);
  bool Report(const zelnet_ports::Resolution& where, bool opened);

  const LineFraming& framing_;
  QTimer TimerComPort;
  // The open port; null while none is open.
  std::unique_ptr<SerialLine> PortHandle;
  // A port closed under a waiting read, released when the read ends.
  std::unique_ptr<SerialLine> closedUnderRead_;
  bool reading_ = false;
  QString lastTarget_;
  QString openProblem_;
};

}  // namespace velkor
