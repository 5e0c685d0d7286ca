#include "Workcom.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include "NetSerialLine.h"
#include "PortMap.h"

namespace velkor {

namespace {

// One byte read waits at most this long, so window events are handled about this often while
// the line is silent.
constexpr int kByteWaitMs = 10;

}  // namespace

QString ResolvePortPath(const QString& name) {
  return zelnet_ports::Resolve(name).target;
}

QString PortAttemptLine(const PortAttempt& a) {
  QString line = a.where.name + QStringLiteral(": ");
  line += a.where.target.isEmpty() ? QStringLiteral("no port") : a.where.target;
  line += QStringLiteral(" (") + zelnet_ports::SourceText(a.where.source) + QLatin1Char(')');
  // A device simply not there is said here; a failure to fix is the open's problem, noted apart.
  if (a.opened || a.where.target.isEmpty() ||
      a.check.state == zelnet_ports::PortState::Unassigned || PortAttemptNeedsFix(a))
    return line;
  return line + QStringLiteral(" - ") + a.check.Reason();
}

bool PortAttemptNeedsFix(const PortAttempt& a) {
  using zelnet_ports::PortState;
  if (a.opened || a.where.target.isEmpty()) return false;
  return a.check.state == PortState::PermissionDenied || a.check.state == PortState::InUse ||
         a.check.state == PortState::NotSerial;
}

TComPort::TComPort(const LineFraming& framing)
    : Opener([this](const QString& target) { return OpenLine(target, openProblem_); }),
      framing_(framing) {
  TimerComPort.setSingleShot(true);
  // Coarse timers may fire up to 5 % early; a read must not end before its time.
  TimerComPort.setTimerType(Qt::PreciseTimer);
  QObject::connect(&TimerComPort, &QTimer::timeout, [this] { TimerComPortTimer(); });
}

TComPort::~TComPort() = default;

bool TComPort::OpenPort(char digit, uint32_t baud) {
  ClosePort();
  const QString name = QStringLiteral("COM") + QChar::fromLatin1(digit);
  const zelnet_ports::Resolution where = zelnet_ports::Resolve(name);
  lastTarget_ = where.target;
  openProblem_.clear();
  std::unique_ptr<SerialLine> line = lastTarget_.isEmpty() ? nullptr : Opener(lastTarget_);
  if (!line) return Report(where, false);
  if (!line->GetState(Dcb)) {
    openProblem_ = QStringLiteral("%1: its line settings cannot be read").arg(lastTarget_);
    return Report(where, false);
  }
  Dcb.BaudRate = baud;
  Dcb.ByteSize = 8;
  Dcb.Parity = 0;
  Dcb.StopBits = 0;
  Dcb.RtsControl = 0;
  if (!line->SetState(Dcb)) {
    openProblem_ = QStringLiteral("%1: refuses %2 baud, 8N1").arg(lastTarget_).arg(baud);
    return Report(where, false);
  }
  PortHandle = std::move(line);
  return Report(where, true);
}

// A device that did not open is checked: a failure the user can fix (permission, a port another
// program holds, no serial device) becomes the open's problem, with the fix. OnOpen is told of
// the attempt. Returns `opened`.
bool TComPort::Report(const zelnet_ports::Resolution& where, bool opened) {
  PortAttempt attempt{where, opened, {}};
  if (!opened && !lastTarget_.isEmpty() && openProblem_.isEmpty()) {
    attempt.check = zelnet_ports::CheckTarget(lastTarget_);
    if (PortAttemptNeedsFix(attempt)) {
      openProblem_ = lastTarget_ + QStringLiteral(": ") + attempt.check.Reason();
      if (!attempt.check.fix.isEmpty())
        openProblem_ += QStringLiteral("; fix: ") + attempt.check.fix;
    }
  }
  if (OnOpen) OnOpen(attempt);
  return opened;
}

void TComPort::ClosePort() {
  if (reading_) {
    closedUnderRead_ = std::move(PortHandle);
  } else {
    PortHandle.reset();
  }
}

bool TComPort::SetRts(bool on) {
  if (!PortHandle) return false;
  Dcb.RtsControl = on ? 1 : 0;
  return PortHandle->SetRts(on);
}

uint32_t TComPort::WriteFrame(std::span<const uint8_t> frame) {
  if (!PortHandle) return 65535;
  if (reading_) return 0;
  const size_t length = framing_.RequestLength(frame);
  if (length < 6 || length > frame.size()) return 0;
  // Bounded: twice the frame's time on the line plus a second, so a wedged port cannot hang us.
  const uint32_t baud = Dcb.BaudRate ? Dcb.BaudRate : 9600;
  const int timeoutMs = static_cast<int>(length * 10 * 1000 * 2 / baud) + 1000;
  return static_cast<uint32_t>(PortHandle->Write(frame.data(), length, timeoutMs));
}

int TComPort::ReadAnswer(std::span<uint8_t> buffer, int ticks, uint8_t code) {
  if (reading_) return kAnswerBusy;
  if (!PortHandle) return kAnswerTimeOut;
  SerialLine& line = *PortHandle;
  reading_ = true;
  struct Done {
    TComPort& port;
    ~Done() {
      port.reading_ = false;
      port.closedUnderRead_.reset();
    }
  } done{*this};

  AnswerAssembler answer(buffer, framing_);
  TimerComPort.start(ticks > 0 ? ticks * 10 : 0);
  for (;;) {
    uint8_t byte = 0;
    if (line.ReadByte(byte, kByteWaitMs) == 0) {
      QCoreApplication::processEvents();
      if (!TimerComPort.isActive()) return kAnswerTimeOut;
      continue;
    }
    const AnswerAssembler::Step step = answer.Push(byte);
    if (step == AnswerAssembler::Step::More) continue;
    if (step == AnswerAssembler::Step::Malformed) {
      DrainRest(line);
      TimerComPort.stop();
      return kAnswerCrcError;
    }
    TimerComPort.stop();
    return ClassifyAnswer(buffer.first(answer.Received()), code);
  }
}

// After an answer that cannot be taken, the rest of it is read and dropped until the line falls
// silent (or the answer's time-out runs out), so it cannot pass for the answer to a later request.
void TComPort::DrainRest(SerialLine& line) {
  QDeadlineTimer deadline(TimerComPort.isActive() ? TimerComPort.remainingTime() : 0);
  uint8_t byte = 0;
  while (!deadline.hasExpired() && line.ReadByte(byte, kByteWaitMs) == 1) {
  }
}

}  // namespace velkor
