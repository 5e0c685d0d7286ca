#include "CommTransport.h"

#include <QElapsedTimer>
#include <QSerialPort>
#include <QThread>
#include <algorithm>

#include "Commdrv.h"
#include "GensioLine.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace velkup {

namespace {

// ---- A local serial port ----------------------------------------------------------------------

class QtCommTransport final : public TCommTransport {
 public:
  bool Open(const QString& path) {
    serial_.setPortName(path);
    return serial_.open(QIODevice::ReadWrite);
  }

  qintptr Handle() const override { return serial_.handle(); }

  bool Apply(const TLineSettings& s) override {
    // TCommDrv's setters take only values of their tables, so every index here is in range.
    static constexpr QSerialPort::Parity kParity[] = {
        QSerialPort::NoParity, QSerialPort::OddParity, QSerialPort::EvenParity,
        QSerialPort::MarkParity, QSerialPort::SpaceParity};
    static constexpr QSerialPort::StopBits kStop[] = {
        QSerialPort::OneStop, QSerialPort::OneAndHalfStop, QSerialPort::TwoStop};
    bool ok = serial_.setBaudRate(static_cast<qint32>(s.baud)) &&
              serial_.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) &&
              serial_.setParity(kParity[s.parity]) && serial_.setStopBits(kStop[s.stopBits]) &&
              serial_.setFlowControl(QSerialPort::NoFlowControl);
    baud_ = s.baud;
    if (ok) ok = Flush(true, true);
    // The driver's queues: QSerialPort's own read buffer stands for the input queue; the output
    // size bounds each write in Send.
    if (ok) serial_.setReadBufferSize(s.inBufSize);
    serial_.clearError();
    return ok;
  }

  void SetLine(bool rts, bool on) override {
    // A pseudo-terminal has no modem lines, so switching them fails there; that must not make
    // the port unusable.
    if (rts)
      serial_.setRequestToSend(on);
    else
      serial_.setDataTerminalReady(on);
    serial_.clearError();
  }

  uint32_t InQueue() override {
    serial_.clearError();
    return static_cast<uint32_t>(serial_.bytesAvailable()) + DriverQueue(true);
  }

  uint32_t OutQueue() override {
    return static_cast<uint32_t>(serial_.bytesToWrite()) + DriverQueue(false);
  }

  bool Flush(bool input, bool output) override {
    QSerialPort::Directions dirs;
    if (input) dirs |= QSerialPort::Input;
    if (output) dirs |= QSerialPort::Output;
    if (!dirs) return true;
    return serial_.clear(dirs);
  }

  TLineStatusSet LineStatus() override {
    TLineStatusSet set;
    serial_.clearError();
    const auto pins = serial_.pinoutSignals();
    if (PortFailed()) {
      serial_.clearError();
      return set;
    }
    if (pins & QSerialPort::ClearToSendSignal) set.Include(lsCTS);
    if (pins & QSerialPort::DataSetReadySignal) set.Include(lsDSR);
    if (pins & QSerialPort::RingIndicatorSignal) set.Include(lsRING);
    if (pins & QSerialPort::DataCarrierDetectSignal) set.Include(lsCD);
    return set;
  }

  uint32_t Send(const char* bytes, uint32_t count, uint32_t timeout, uint32_t outBufSize) override {
    uint32_t queued = 0;  // handed to QSerialPort
    uint32_t total = 0;   // taken by the driver
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    while (total < count) {
      // Give the port no more than the output queue's free space at a time.
      if (serial_.bytesToWrite() == 0 && queued < count) {
        const uint32_t inQueue = OutQueue();
        const uint32_t free = inQueue >= outBufSize ? 0 : outBufSize - inQueue;
        if (free > 0) {
          const uint32_t chunk = std::min<uint32_t>(free, count - queued);
          const qint64 w = serial_.write(bytes + queued, chunk);
          if (w > 0) queued += static_cast<uint32_t>(w);
        }
      }
      const qint64 left = std::max<qint64>(0, qint64{timeout} - sinceProgress.elapsed());
      const qint64 pending = serial_.bytesToWrite();
      bool progress = false;
      if (pending > 0) {
        serial_.clearError();
        serial_.waitForBytesWritten(static_cast<int>(left));
        const qint64 after = serial_.bytesToWrite();
        if (after < pending) {
          total += static_cast<uint32_t>(pending - after);
          sinceProgress.restart();
          progress = true;
        } else if (Failed()) {
          break;
        }
      } else if (left > 0) {
        // The driver's queue is full: sleep for about the time its excess takes on the line.
        const uint32_t inDriver = DriverQueue(false);
        const uint64_t excess = inDriver >= outBufSize ? inDriver - outBufSize + 1 : 1;
        const uint64_t ms = baud_ ? excess * 10000 / baud_ : 1;
        QThread::msleep(static_cast<unsigned long>(std::clamp<uint64_t>(ms, 1, left)));
      }
      if (!progress && sinceProgress.elapsed() > qint64{timeout}) break;
    }
    if (total < count) NoteHangUp();
    // What the driver did not take within the time-out is not sent later behind the caller's
    // back.
    if (serial_.bytesToWrite() > 0) serial_.clear(QSerialPort::Output);
    serial_.clearError();
    return total;
  }

  uint32_t Receive(char* into, uint32_t count, uint32_t timeout) override {
    uint32_t total = 0;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    while (total < count) {
      const qint64 left = qint64{timeout} - sinceProgress.elapsed();
      if (left <= 0) break;
      serial_.clearError();
      const bool ready = serial_.waitForReadyRead(static_cast<int>(left));
      const uint32_t got = TakeAvailable(into + total, count - total);
      if (got > 0) {
        total += got;
        sinceProgress.restart();
      } else if (!ready && Failed()) {
        break;  // the port itself failed; waiting longer cannot help
      }
    }
    if (total < count) NoteHangUp();
    serial_.clearError();
    return total;
  }

  uint32_t TakeAvailable(char* into, uint32_t max) override {
    if (max == 0) return 0;
    if (serial_.bytesAvailable() < max) PullPending();
    const qint64 n = serial_.read(into, max);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
  }

  bool Lost() override { return lost_; }

 private:
  // Bytes that the operating system holds for the port in one direction, beyond what
  // QSerialPort has buffered itself. 0 where the platform cannot tell.
  uint32_t DriverQueue([[maybe_unused]] bool input) {
#ifdef Q_OS_UNIX
    int n = 0;
    if (::ioctl(static_cast<int>(serial_.handle()), input ? FIONREAD : TIOCOUTQ, &n) == 0 && n > 0)
      return static_cast<uint32_t>(n);
#endif
    return 0;
  }

  bool PortFailed() const {
    const auto e = serial_.error();
    return e != QSerialPort::NoError && e != QSerialPort::TimeoutError;
  }

  // Whether the port has failed, noting a lost device.
  bool Failed() {
    if (!PortFailed()) return false;
    if (serial_.error() == QSerialPort::ResourceError) lost_ = true;
    return true;
  }

  // Notes a line that has hung up, after a transfer that fell short.
  void NoteHangUp() {
#ifdef Q_OS_UNIX
    // A hung-up line (the far end of a pseudo-terminal closed, an adapter unplugged) polls as
    // HUP or ERR at once.
    pollfd p{static_cast<int>(serial_.handle()), POLLIN, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) lost_ = true;
#endif
  }

  // Moves what the driver holds into the port's own buffer without waiting.
  void PullPending() {
#ifdef Q_OS_UNIX
    if (DriverQueue(true) == 0) return;  // nothing waits in the driver
#endif
    serial_.waitForReadyRead(0);
    serial_.clearError();
  }

  QSerialPort serial_;
  uint32_t baud_ = 0;
  bool lost_ = false;
};

// ---- A port on another machine ----------------------------------------------------------------

class NetCommTransport final : public TCommTransport {
 public:
  explicit NetCommTransport(std::unique_ptr<zelnet_ports::NetLine> line) : line_(std::move(line)) {}

  qintptr Handle() const override { return -1; }

  bool Apply(const TLineSettings& s) override {
    // The remote port is served at 8 data bits, no parity, one stop bit; its baud rate is set
    // here and checked against the server's answer.
    if (!line_->SetBaud(s.baud)) return false;
    line_->ClearInput();
    return true;
  }

  // The server's acknowledgement is not waited for (on a pseudo-terminal it never comes).
  void SetLine(bool rts, bool on) override { rts ? line_->SetRts(on) : line_->SetDtr(on); }

  uint32_t InQueue() override { return static_cast<uint32_t>(line_->Available()); }
  uint32_t OutQueue() override { return 0; }

  bool Flush(bool input, bool) override {
    if (input) line_->ClearInput();
    return true;
  }

  // The modem inputs are not asked of the server.
  TLineStatusSet LineStatus() override { return {}; }

  uint32_t Send(const char* data, uint32_t count, uint32_t timeout, uint32_t) override {
    return static_cast<uint32_t>(
        line_->Write(reinterpret_cast<const uint8_t*>(data), count, static_cast<int>(timeout)));
  }

  uint32_t Receive(char* into, uint32_t count, uint32_t timeout) override {
    uint32_t total = 0;
    while (total < count && !line_->Lost()) {
      const size_t got = line_->Read(reinterpret_cast<uint8_t*>(into) + total, count - total,
                                     static_cast<int>(timeout));
      if (got == 0) break;  // nothing for the whole inactivity time-out
      total += static_cast<uint32_t>(got);
    }
    return total;
  }

  uint32_t TakeAvailable(char* into, uint32_t max) override {
    return static_cast<uint32_t>(line_->Read(reinterpret_cast<uint8_t*>(into), max, 0));
  }

  bool Lost() override { return line_->Lost(); }

 private:
  std::unique_ptr<zelnet_ports::NetLine> line_;
};

}  // namespace

std::unique_ptr<TCommTransport> OpenTransport(const QString& target, QString& problem) {
  const std::optional<zelnet_ports::Target> parsed = zelnet_ports::ParseTarget(target);
  if (parsed && zelnet_ports::IsNetwork(*parsed)) {
    std::unique_ptr<zelnet_ports::NetLine> line = zelnet_ports::NetLine::Open(*parsed, problem);
    if (!line) return nullptr;
    return std::make_unique<NetCommTransport>(std::move(line));
  }
  auto local = std::make_unique<QtCommTransport>();
  if (!local->Open(target)) return nullptr;
  return local;
}

}  // namespace velkup
