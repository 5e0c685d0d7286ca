#include "Commdrv.h"

#include "PortMap.h"

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cstring>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace velkup {

namespace {

constexpr uint32_t kMinBufSize = 128;
constexpr uint32_t kMaxBufSize = 8192;
constexpr uint16_t kMinPollingDelay = 5;

uint32_t ClampBufSize(uint32_t n) {
  return std::clamp(n, kMinBufSize, kMaxBufSize);
}

// Bytes that the operating system holds for the port in one direction, beyond what
// QSerialPort has buffered itself. 0 where the platform cannot tell.
uint32_t DriverQueue([[maybe_unused]] QSerialPort* serial, [[maybe_unused]] bool input) {
#ifdef Q_OS_UNIX
  int n = 0;
  if (::ioctl(static_cast<int>(serial->handle()), input ? FIONREAD : TIOCOUTQ, &n) == 0 && n > 0)
    return static_cast<uint32_t>(n);
#endif
  return 0;
}

bool PortFailed(const QSerialPort* serial) {
  const auto e = serial->error();
  return e != QSerialPort::NoError && e != QSerialPort::TimeoutError;
}

}  // namespace

uint32_t BaudRateOf(TBaudRate rate) {
  switch (rate) {
    case br9600:
      return 9600;
    case br14400:
      return 14400;
    case br19200:
      return 19200;
    case br28800:
      return 28800;
    case br38400:
      return 38400;
    case br57600:
      return 57600;
    case br115200:
      return 115200;
    case brCustom:
      break;
  }
  return 0;
}

QString ResolvePortName(const QString& name) {
  return zelnet_ports::Resolve(name).target;
}

TCommDrv::TCommDrv(QObject* AOwner)
    : QObject(AOwner), serial_(new QSerialPort(this)), timer_(new QTimer(this)) {
  receiveBuffer_.assign(inBufSize_, 0);  // after the members' own initial values
  connect(timer_, &QTimer::timeout, this, &TCommDrv::TimerWndProc);
}

TCommDrv::~TCommDrv() {
  Disconnect();
}

// ---- Connection -------------------------------------------------------------------------

bool TCommDrv::Connect() {
  if (Connected()) return true;
  lineLost_ = false;
  serial_->setPortName(ResolvePortName(portName_));
  if (!serial_->open(QIODevice::ReadWrite)) return false;
  if (!ApplyCOMSettings()) {
    Disconnect();
    return false;
  }
  // The port's own read and write time-outs have no counterpart here: every wait below carries
  // its own deadline.
  timer_->start(pollingDelay_);
  return true;
}

void TCommDrv::Disconnect() {
  if (!Connected()) return;
  timer_->stop();
  serial_->close();
}

bool TCommDrv::Connected() const {
  return serial_->isOpen();
}

qintptr TCommDrv::Handle() const {
  return Connected() ? serial_->handle() : -1;
}

bool TCommDrv::SetHandle(qintptr handle) {
  if (handle == Handle()) return true;
  if (handle == -2) {
    if (Connected()) timer_->stop();
    Disconnect();
    return false;
  }
  Disconnect();
  return handle == -1;
}

bool TCommDrv::ApplyCOMSettings() {
  if (!Connected()) return false;
  // The setters take only values of their tables, so every index here is in range.
  static constexpr QSerialPort::Parity kParity[] = {
      QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity,
      QSerialPort::MarkParity, QSerialPort::SpaceParity};
  static constexpr QSerialPort::StopBits kStop[] = {
      QSerialPort::OneStop, QSerialPort::OneAndHalfStop, QSerialPort::TwoStop};
  bool ok = serial_->setBaudRate(static_cast<qint32>(baud_)) &&
            serial_->setDataBits(static_cast<QSerialPort::DataBits>(dataBits_ + 5)) &&
            serial_->setParity(kParity[parity_]) && serial_->setStopBits(kStop[stopBits_]) &&
            serial_->setFlowControl(QSerialPort::NoFlowControl);
  // RTS and DTR follow the flags. A pseudo-terminal has no modem lines, so switching them
  // fails there; that must not make the port unusable.
  SetLine(true, rts_);
  SetLine(false, dtr_);
  if (ok) ok = FlushBuffers(true, true);
  // The driver's queues: QSerialPort's own read buffer stands for the input queue; the output
  // size bounds each write in SendDataEx.
  if (ok) serial_->setReadBufferSize(inBufSize_);
  serial_->clearError();
  return ok;
}

void TCommDrv::SetLine(bool rts, bool on) {
  if (!Connected()) return;
  if (rts)
    serial_->setRequestToSend(on);
  else
    serial_->setDataTerminalReady(on);
  serial_->clearError();
}

void TCommDrv::ReapplyIfConnected() {
  if (Connected()) ApplyCOMSettings();
}

// ---- Settings ---------------------------------------------------------------------------

void TCommDrv::SetPortB(TPortNumber port) {
  if (Connected()) return;
  port_ = port;
  if (port != pnCustom) portName_ = QStringLiteral("COM%1").arg(static_cast<int>(port));
}

void TCommDrv::SetPortName(const QString& name) {
  if (Connected()) return;
  port_ = pnCustom;
  portName_ = name;
}

void TCommDrv::SetBaudRate(TBaudRate rate) {
  baudRate_ = rate;
  if (rate != brCustom) baud_ = BaudRateOf(rate);
  ReapplyIfConnected();
}

void TCommDrv::SetBaudRateValue(uint32_t bps) {
  baudRate_ = brCustom;
  baud_ = bps;
  ReapplyIfConnected();
}

void TCommDrv::SetDataBits(TDataBits bits) {
  if (bits < db5BITS || bits > db8BITS) return;
  dataBits_ = bits;
  ReapplyIfConnected();
}

void TCommDrv::SetStopBits(TStopBits bits) {
  if (bits < sb1BITS || bits > sb2BITS) return;
  stopBits_ = bits;
  ReapplyIfConnected();
}

void TCommDrv::SetParity(TParity parity) {
  if (parity < ptNONE || parity > ptSPACE) return;
  parity_ = parity;
  ReapplyIfConnected();
}

void TCommDrv::SetInBufSize(uint32_t n) {
  if (Connected()) return;
  inBufSize_ = ClampBufSize(n);
  receiveBuffer_.assign(inBufSize_, 0);
}

void TCommDrv::SetOutBufSize(uint32_t n) {
  if (Connected()) return;
  outBufSize_ = ClampBufSize(n);
}

void TCommDrv::SetPollingDelay(uint16_t ms) {
  ms = std::max(ms, kMinPollingDelay);
  if (ms == pollingDelay_) return;
  pollingDelay_ = ms;
  if (Connected()) timer_->start(pollingDelay_);  // start() stops and restarts
}

void TCommDrv::ToggleRTS(bool on) {
  rts_ = on;
  SetLine(true, on);
}

void TCommDrv::ToggleDTR(bool on) {
  dtr_ = on;
  SetLine(false, on);
}

// ---- Queues and lines -------------------------------------------------------------------

uint32_t TCommDrv::CountRX() {
  if (!Connected()) return 0xFFFF;
  serial_->clearError();
  return static_cast<uint32_t>(serial_->bytesAvailable()) + DriverQueue(serial_, true);
}

uint16_t TCommDrv::OutFreeSpace() {
  if (!Connected()) return 0xFFFF;
  const uint64_t queued =
      static_cast<uint64_t>(serial_->bytesToWrite()) + DriverQueue(serial_, false);
  // A queue holding more than OutBufSize (the driver's own buffer is larger) has no room left.
  return static_cast<uint16_t>(queued >= outBufSize_ ? 0 : outBufSize_ - queued);
}

bool TCommDrv::FlushBuffers(bool input, bool output) {
  if (!Connected()) return false;
  QSerialPort::Directions dirs;
  if (input) dirs |= QSerialPort::Input;
  if (output) dirs |= QSerialPort::Output;
  if (!dirs) return true;
  return serial_->clear(dirs);
}

TLineStatusSet TCommDrv::GetLineStatus() {
  TLineStatusSet set;
  if (!Connected()) return set;
  serial_->clearError();
  const auto pins = serial_->pinoutSignals();
  if (PortFailed(serial_)) {
    serial_->clearError();
    return set;
  }
  if (pins & QSerialPort::ClearToSendSignal) set.Include(lsCTS);
  if (pins & QSerialPort::DataSetReadySignal) set.Include(lsDSR);
  if (pins & QSerialPort::RingIndicatorSignal) set.Include(lsRING);
  if (pins & QSerialPort::DataCarrierDetectSignal) set.Include(lsCD);
  return set;
}

// ---- Transfer ---------------------------------------------------------------------------

uint32_t TCommDrv::SendDataEx(const void* data, uint32_t count, uint32_t timeout) {
  if (!Connected()) return 0;
  const char* bytes = static_cast<const char*>(data);
  uint32_t queued = 0;  // handed to QSerialPort
  uint32_t total = 0;   // taken by the driver
  QElapsedTimer sinceProgress;
  sinceProgress.start();
  while (total < count) {
    // Give the port no more than the output queue's free space at a time.
    if (serial_->bytesToWrite() == 0 && queued < count) {
      const uint16_t free = OutFreeSpace();
      if (free > 0) {
        const uint32_t chunk = std::min<uint32_t>(free, count - queued);
        const qint64 w = serial_->write(bytes + queued, chunk);
        if (w > 0) queued += static_cast<uint32_t>(w);
      }
    }
    const qint64 left = std::max<qint64>(0, qint64{timeout} - sinceProgress.elapsed());
    const qint64 pending = serial_->bytesToWrite();
    bool progress = false;
    if (pending > 0) {
      serial_->clearError();
      serial_->waitForBytesWritten(static_cast<int>(left));
      const qint64 after = serial_->bytesToWrite();
      if (after < pending) {
        total += static_cast<uint32_t>(pending - after);
        sinceProgress.restart();
        progress = true;
      } else if (Failed()) {
        break;
      }
    } else if (left > 0) {
      // The driver's queue is full: sleep for about the time its excess takes on the line.
      const uint32_t inDriver = DriverQueue(serial_, false);
      const uint64_t excess = inDriver >= outBufSize_ ? inDriver - outBufSize_ + 1 : 1;
      const uint64_t ms = baud_ ? excess * 10000 / baud_ : 1;
      QThread::msleep(static_cast<unsigned long>(std::clamp<uint64_t>(ms, 1, left)));
    }
    if (!progress && sinceProgress.elapsed() > qint64{timeout}) break;
  }
  if (total < count) NoteHangUp();
  // What the driver did not take within the time-out is not sent later behind the caller's back.
  if (serial_->bytesToWrite() > 0) serial_->clear(QSerialPort::Output);
  serial_->clearError();
  return total;
}

uint32_t TCommDrv::SendData(const void* data, uint32_t count) {
  return SendDataEx(data, count, OutputTimeout);
}

bool TCommDrv::SendByte(uint8_t value) {
  return SendData(&value, 1) == 1;
}

bool TCommDrv::SendChar(char value) {
  return SendData(&value, 1) == 1;
}

bool TCommDrv::SendString(const std::string& text) {
  const auto n = static_cast<uint32_t>(text.size());
  return SendData(text.data(), n) == n;
}

bool TCommDrv::SendZString(const char* text) {
  const auto n = static_cast<uint32_t>(std::strlen(text));
  return SendData(text, n) == n;
}

bool TCommDrv::Failed() {
  if (!PortFailed(serial_)) return false;
  if (serial_->error() == QSerialPort::ResourceError) lineLost_ = true;
  return true;
}

void TCommDrv::NoteHangUp() {
#ifdef Q_OS_UNIX
  // A hung-up line (the far end of a pseudo-terminal closed, an adapter unplugged) polls as
  // HUP or ERR at once.
  pollfd p{static_cast<int>(serial_->handle()), POLLIN, 0};
  if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) lineLost_ = true;
#endif
}

void TCommDrv::PullPending() {
#ifdef Q_OS_UNIX
  if (DriverQueue(serial_, true) == 0) return;  // nothing waits in the driver
#endif
  serial_->waitForReadyRead(0);
  serial_->clearError();
}

uint32_t TCommDrv::TakeAvailable(char* into, uint32_t max) {
  if (max == 0) return 0;
  if (serial_->bytesAvailable() < max) PullPending();
  const qint64 n = serial_->read(into, max);
  return n > 0 ? static_cast<uint32_t>(n) : 0;
}

uint32_t TCommDrv::ReadData(void* buffer, uint32_t count) {
  if (!Connected() || count == 0) return 0;
  char* into = static_cast<char*>(buffer);
  PausePolling();
  // What has already arrived counts: a complete answer ends the read at once.
  uint32_t total = TakeAvailable(into, count);
  QElapsedTimer sinceProgress;
  sinceProgress.start();
  while (total < count) {
    const qint64 left = qint64{InputTimeout} - sinceProgress.elapsed();
    if (left <= 0) break;
    serial_->clearError();
    const bool ready = serial_->waitForReadyRead(static_cast<int>(left));
    const uint32_t got = TakeAvailable(into + total, count - total);
    if (got > 0) {
      total += got;
      sinceProgress.restart();
    } else if (!ready && Failed()) {
      break;  // the port itself failed; waiting longer cannot help
    }
  }
  if (total < count) NoteHangUp();
  serial_->clearError();
  ContinuePolling();
  return total;
}

bool TCommDrv::ReadByte(uint8_t& value) {
  return ReadData(&value, 1) == 1;
}

bool TCommDrv::ReadChar(char& value) {
  return ReadData(&value, 1) == 1;
}

// The polling timer: bytes that arrive while no read waits go to OnReceiveData.
void TCommDrv::TimerWndProc() {
  if (!Connected() || !IsPolling()) return;
  const uint32_t waiting = std::min(CountRX(), inBufSize_);
  if (waiting == 0) return;
  const uint32_t got = TakeAvailable(reinterpret_cast<char*>(receiveBuffer_.data()), waiting);
  if (got >= 1 && OnReceiveData) OnReceiveData(this, receiveBuffer_.data(), got);
}

}  // namespace velkup
