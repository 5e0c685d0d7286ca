#include "Workcom.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTimer>

#include "QtSerialLine.h"

namespace velkor {

namespace {

// One byte read waits at most this long, so window events are handled about this often while
// the line is silent.
constexpr int kByteWaitMs = 10;

}  // namespace

QString ResolvePortPath(const QString& name) {
#ifdef Q_OS_WIN
  return name;
#else
  static const QRegularExpression comName(QStringLiteral("^COM([0-9]+)$"));
  const QRegularExpressionMatch m = comName.match(name);
  if (!m.hasMatch()) return name;
  const int n = m.captured(1).toInt();
  const QByteArray fromEnv = qgetenv(("ZELNET_COM" + QByteArray::number(n)).constData());
  if (!fromEnv.isEmpty()) return QString::fromLocal8Bit(fromEnv);
  return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

void ClosePort(LineHandle& handle) {
  delete handle;
  handle = nullptr;
}

TComPort::TComPort(QTimer& timerComPort, const LineFraming& framing)
    : Opener([](const QString& path) { return QtSerialLine::Open(path); }),
      timerComPort_(timerComPort),
      framing_(framing) {}

LineHandle TComPort::OpenPort(char digit, uint32_t baud) {
  const QString name = QStringLiteral("COM") + QChar::fromLatin1(digit);
  std::unique_ptr<SerialLine> line = Opener(ResolvePortPath(name));
  if (!line) return nullptr;
  if (!line->GetState(Dcb)) return nullptr;
  Dcb.BaudRate = baud;
  Dcb.ByteSize = 8;
  Dcb.Parity = 0;
  Dcb.StopBits = 0;
  Dcb.RtsControl = 0;
  if (!line->SetState(Dcb)) return nullptr;
  Timeouts = TCommTimeouts{kByteWaitMs, 0, kByteWaitMs, 0, 0};
  return line.release();
}

bool TComPort::SetRts(bool on, LineHandle handle) {
  if (!handle) return false;
  Dcb.RtsControl = on ? 1 : 0;
  return handle->SetRts(on);
}

uint32_t TComPort::WriteFrame(std::span<const uint8_t> frame, LineHandle handle) {
  if (!handle) return 65535;
  if (reading_) return 0;
  const size_t length = framing_.RequestLength(frame);
  if (length < 6 || length > frame.size()) return 0;
  // Bounded: twice the frame's time on the line plus a second, so a wedged port cannot hang us.
  const uint32_t baud = Dcb.BaudRate ? Dcb.BaudRate : 9600;
  const int timeoutMs = static_cast<int>(length * 10 * 1000 * 2 / baud) + 1000;
  return static_cast<uint32_t>(handle->Write(frame.data(), length, timeoutMs));
}

int TComPort::ReadAnswer(std::span<uint8_t> buffer, int ticks, uint8_t code, LineHandle handle) {
  if (reading_) return kAnswerBusy;
  if (!handle) return kAnswerTimeOut;
  reading_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{reading_};

  AnswerAssembler answer(buffer, framing_);
  timerComPort_.setSingleShot(true);
  timerComPort_.start(ticks > 0 ? ticks * 10 : 0);
  for (;;) {
    uint8_t byte = 0;
    if (handle->ReadByte(byte, kByteWaitMs) == 0) {
      QCoreApplication::processEvents();
      if (!timerComPort_.isActive()) return kAnswerTimeOut;
      continue;
    }
    const AnswerAssembler::Step step = answer.Push(byte);
    if (step == AnswerAssembler::Step::More) continue;
    if (step == AnswerAssembler::Step::Malformed) {
      DrainRest(handle);
      timerComPort_.stop();
      return kAnswerCrcError;
    }
    timerComPort_.stop();
    return ClassifyAnswer(buffer.first(answer.Received()), code);
  }
}

// After an answer that cannot be taken, the rest of it is read and dropped until the line falls
// silent (or the answer's time-out runs out), so it cannot pass for the answer to a later request.
void TComPort::DrainRest(LineHandle handle) {
  QDeadlineTimer deadline(timerComPort_.isActive() ? timerComPort_.remainingTime() : 0);
  uint8_t byte = 0;
  while (!deadline.hasExpired() && handle->ReadByte(byte, kByteWaitMs) == 1) {
  }
}

}  // namespace velkor
