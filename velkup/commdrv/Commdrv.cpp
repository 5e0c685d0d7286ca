#include "Commdrv.h"

#include "PortMap.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cstring>

namespace velkup {

namespace {

constexpr uint32_t kMinBufSize = 128;
constexpr uint32_t kMaxBufSize = 8192;
constexpr uint16_t kMinPollingDelay = 5;

uint32_t ClampBufSize(uint32_t n) {
  return std::clamp(n, kMinBufSize, kMaxBufSize);
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

TCommDrv::TCommDrv(QObject* AOwner) : QObject(AOwner), timer_(new QTimer(this)) {
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
  target_ = ResolvePortName(portName_);
  openProblem_.clear();
  line_ = OpenTransport(target_, openProblem_);
  if (!line_) return false;
  if (!ApplyCOMSettings()) {
    if (openProblem_.isEmpty())
      openProblem_ = QStringLiteral("%1: refuses %2 baud").arg(target_).arg(baud_);
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
  NoteLost();
  line_.reset();
}

bool TCommDrv::Connected() const {
  return line_ != nullptr;
}

qintptr TCommDrv::Handle() const {
  return Connected() ? line_->Handle() : -1;
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
  const bool ok = line_->Apply(TLineSettings{baud_, dataBits_ + 5, parity_, stopBits_, inBufSize_});
  // RTS and DTR follow the flags, after the baud rate: a network line's next control request
  // waits for the acknowledgement of the one before, which a server may never send for RTS.
  SetLine(true, rts_);
  SetLine(false, dtr_);
  return ok;
}

void TCommDrv::SetLine(bool rts, bool on) {
  if (Connected()) line_->SetLine(rts, on);
}

void TCommDrv::NoteLost() {
  if (line_ && line_->Lost()) lineLost_ = true;
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
  return line_->InQueue();
}

uint16_t TCommDrv::OutFreeSpace() {
  if (!Connected()) return 0xFFFF;
  const uint64_t queued = line_->OutQueue();
  // A queue holding more than OutBufSize (the driver's own buffer is larger) has no room left.
  return static_cast<uint16_t>(queued >= outBufSize_ ? 0 : outBufSize_ - queued);
}

bool TCommDrv::FlushBuffers(bool input, bool output) {
  if (!Connected()) return false;
  return line_->Flush(input, output);
}

TLineStatusSet TCommDrv::GetLineStatus() {
  if (!Connected()) return {};
  return line_->LineStatus();
}

// ---- Transfer ---------------------------------------------------------------------------

uint32_t TCommDrv::SendDataEx(const void* data, uint32_t count, uint32_t timeout) {
  if (!Connected()) return 0;
  const uint32_t total = line_->Send(static_cast<const char*>(data), count, timeout, outBufSize_);
  NoteLost();
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

uint32_t TCommDrv::ReadData(void* buffer, uint32_t count) {
  if (!Connected() || count == 0) return 0;
  char* into = static_cast<char*>(buffer);
  PausePolling();
  // What has already arrived counts: a complete answer ends the read at once.
  uint32_t total = line_->TakeAvailable(into, count);
  if (total < count) total += line_->Receive(into + total, count - total, InputTimeout);
  NoteLost();
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
  const uint32_t got =
      line_->TakeAvailable(reinterpret_cast<char*>(receiveBuffer_.data()), waiting);
  if (got >= 1 && OnReceiveData) OnReceiveData(this, receiveBuffer_.data(), got);
}

}  // namespace velkup
