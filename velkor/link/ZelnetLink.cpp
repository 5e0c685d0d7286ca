#include "ZelnetLink.h"

#include <QCoreApplication>
#include <QEventLoop>

#include "Frame.h"

namespace velkor {

ZelnetLink::ZelnetLink(LinkHost host, QObject* parent)
    : QObject(parent), SerialPort(ZelnetFraming()), host_(std::move(host)) {
  TimerDelay.setSingleShot(true);
  // Coarse timers may fire up to 5 % early; a delay must not end before its time.
  TimerDelay.setTimerType(Qt::PreciseTimer);
}

ZelnetLink::~ZelnetLink() = default;  // the port object releases the open port

void ZelnetLink::SetPortRecord(std::function<void(const QString&)> record) {
  SerialPort.OnOpen = [record = std::move(record)](const PortAttempt& attempt) {
    if (record) record(PortAttemptLine(attempt));
  };
}

void ZelnetLink::Log(const QString& line) {
  if (host_.AddMessage) host_.AddMessage(line);
}

bool ZelnetLink::Tracing() const {
  return host_.ShowMessages && host_.ShowMessages();
}

int ZelnetLink::SendCommand(uint8_t code, std::span<uint8_t> buffer, int ticks) {
  if (!IsOpen()) {
    if (host_.ErrorBox) host_.ErrorBox(kTextNoPort);
    return txNoPort;
  }
  if (ExchangeBusy()) {
    Log(kTextBusy);
    return txBusy;
  }
  if (velkor::BuildFrame(code, buffer) == 0) {
    // The caller's buffer cannot hold the request: nothing goes out, reported like a lost answer.
    Log(kSeparator);
    lastStatus_ = 0;
    Log(kTextTimeOut);
    return txTimeOut;
  }
  SerialPort.WriteFrame(buffer);
  if (Tracing()) {
    Log(kSeparator);
    Log(QString::fromStdString(TraceLine("-> ", buffer)));
  }
  const int result = SerialPort.ReadAnswer(buffer, ticks, code);
  if (Tracing()) {
    Log(kSeparator);
    Log(QString::fromStdString(TraceLine("<- ", buffer)));
  }
  if (result > 0) {
    if (buffer[3] != lastStatus_) Log(kSeparator);
    return txOk;
  }
  Log(kSeparator);
  lastStatus_ = 0;
  switch (result) {
    case txInvalidCommand:
      Log(kTextInvalidCommand);
      break;
    case txBadStatistics:
      Log(kTextBadStatistics);
      break;
    case txTimeOut:
      Log(kTextTimeOut);
      break;
    default:
      Log(kTextCrcError);
      break;
  }
  return result;
}

void ZelnetLink::SendAck() {
  if (!IsOpen()) {
    if (host_.ErrorBox) host_.ErrorBox(kTextNoPortAck);
    return;
  }
  if (ExchangeBusy()) {
    Log(kTextBusy);
    return;
  }
  uint8_t frame[kShortestFrame] = {};
  velkor::BuildFrame(kCmdAck, frame);
  SerialPort.WriteFrame(frame);
  if (Tracing()) {
    Log(kSeparator);
    Log(QString::fromStdString(TraceLine("-> ", frame)));
  }
}

int ZelnetLink::Exchange(std::span<uint8_t> buffer, int ticks, uint8_t code) {
  if (ExchangeBusy()) return kAnswerBusy;
  SerialPort.WriteFrame(buffer);
  return SerialPort.ReadAnswer(buffer, ticks, code);
}

void ZelnetLink::Delay(int ms) {
  TimerDelay.start(ms > 0 ? ms : 0);
  // Each pass blocks until an event arrives (the timer's among them): no spinning. A nested Delay
  // from a handler run here re-arms the same timer, and this one ends when that one does.
  while (TimerDelay.isActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace velkor
