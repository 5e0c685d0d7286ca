#include "QtSerialLine.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

namespace velkor {

std::unique_ptr<SerialLine> QtSerialLine::Open(const QString& path) {
  auto line = std::make_unique<QtSerialLine>();
  line->port_.setPortName(path);
  if (!line->port_.open(QIODevice::ReadWrite)) return nullptr;
  // A port that fails under us (an adapter pulled out, a hung-up terminal) keeps reporting
  // itself readable: close it so that nothing spins on it. The close is queued, so it never
  // happens inside a wait of the port itself; the line stays, and every later exchange on it
  // ends as a time-out until the port is opened again.
  QSerialPort* port = &line->port_;
  QObject::connect(port, &QSerialPort::errorOccurred, port, [port](QSerialPort::SerialPortError e) {
    if (e != QSerialPort::ReadError && e != QSerialPort::ResourceError) return;
    QMetaObject::invokeMethod(
        port,
        [port] {
          if (port->isOpen()) port->close();
        },
        Qt::QueuedConnection);
  });
  return line;
}

bool QtSerialLine::GetState(TDcb& dcb) {
  if (!port_.isOpen()) return false;
  dcb.BaudRate = static_cast<uint32_t>(port_.baudRate());
  dcb.ByteSize = static_cast<uint8_t>(port_.dataBits());
  dcb.Parity = port_.parity() == QSerialPort::NoParity ? 0 : 1;
  dcb.StopBits = port_.stopBits() == QSerialPort::OneStop ? 0 : 2;
  dcb.RtsControl = port_.isRequestToSend() ? 1 : 0;
  return true;
}

bool QtSerialLine::SetState(const TDcb& dcb) {
  if (!port_.isOpen()) return false;
  const bool ok = port_.setBaudRate(static_cast<qint32>(dcb.BaudRate)) &&
                  port_.setDataBits(static_cast<QSerialPort::DataBits>(dcb.ByteSize)) &&
                  port_.setParity(QSerialPort::NoParity) &&
                  port_.setStopBits(QSerialPort::OneStop) &&
                  port_.setFlowControl(QSerialPort::NoFlowControl);
  if (ok) SetRts(dcb.RtsControl != 0);
  return ok;
}

bool QtSerialLine::SetRts(bool high) {
  if (!port_.isOpen()) return false;
  const bool ok = port_.setRequestToSend(high);
  // A pseudo-terminal has no modem lines; its refusal must not stick as the port's error.
  if (!ok) port_.clearError();
  return ok;
}

size_t QtSerialLine::Write(const uint8_t* data, size_t size, int timeoutMs) {
  if (!port_.isOpen() || size == 0) return 0;
  const qint64 queued = port_.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
  if (queued <= 0) return 0;
  QDeadlineTimer deadline(timeoutMs);
  while (port_.bytesToWrite() > 0 && !deadline.hasExpired()) {
    if (!port_.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) break;
  }
  const qint64 left = port_.bytesToWrite();
  if (left > 0) {
    // A wedged line: drop what did not leave so it cannot go out later inside another exchange.
    port_.clear(QSerialPort::Output);
    port_.clearError();
    return static_cast<size_t>(queued - left);
  }
  return static_cast<size_t>(queued);
}

int QtSerialLine::ReadByte(uint8_t& byte, int waitMs) {
  if (port_.bytesAvailable() == 0) {
    QElapsedTimer waited;
    waited.start();
    if (port_.isOpen() && !port_.waitForReadyRead(waitMs)) port_.clearError();
    if (port_.bytesAvailable() == 0) {
      // A line in error returns at once; keep the promised pace so callers never spin.
      const qint64 rest = waitMs - waited.elapsed();
      if (rest > 0) QThread::msleep(static_cast<unsigned long>(rest));
      return 0;
    }
  }
  char c = 0;
  if (port_.read(&c, 1) != 1) return 0;
  byte = static_cast<uint8_t>(c);
  return 1;
}

}  // namespace velkor
