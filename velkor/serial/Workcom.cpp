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
  lastTarget_ = ResolvePortPath(name);
  openProblem_.clear();
  std::unique_ptr<SerialLine> line = Opener(lastTarget_);
  if (!line) return false;
  if (!line->GetState(Dcb)) return false;
  Dcb.BaudRate = baud;
  Dcb.ByteSize = 8;
  Dcb.Parity = 0;
  Dcb.StopBits = 0;
  Dcb.RtsControl = 0;
  if (!line->SetState(Dcb)) {
    openProblem_ = QStringLiteral("%1: refuses %2 baud, 8N1").arg(lastTarget_).arg(baud);
    return false;
  }
  PortHandle = std::move(line);
  return true;
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
