#include "NetSerialLine.h"

#include <QElapsedTimer>
#include <QThread>

#include "QtSerialLine.h"

namespace velkor {

std::unique_ptr<SerialLine> NetSerialLine::Open(const zelnet_ports::Target& target,
                                                QString& problem) {
  std::unique_ptr<zelnet_ports::NetLine> line = zelnet_ports::NetLine::Open(target, problem);
  if (!line) return nullptr;
  return std::unique_ptr<SerialLine>(new NetSerialLine(std::move(line)));
}

bool NetSerialLine::GetState(TDcb& dcb) {
  if (line_->Lost()) return false;
  dcb = dcb_;
  if (const uint32_t baud = line_->QueryBaud()) dcb.BaudRate = baud;
  return true;
}

bool NetSerialLine::SetState(const TDcb& dcb) {
  if (!line_->SetBaud(dcb.BaudRate)) return false;
  dcb_ = dcb;
  SetRts(dcb.RtsControl != 0);
  return true;
}

bool NetSerialLine::SetRts(bool high) {
  return line_->SetRts(high);
}

size_t NetSerialLine::Write(const uint8_t* data, size_t size, int timeoutMs) {
  return line_->Write(data, size, timeoutMs);
}

int NetSerialLine::ReadByte(uint8_t& byte, int waitMs) {
  QElapsedTimer waited;
  waited.start();
  if (line_->Read(&byte, 1, waitMs) == 1) return 1;
  // A lost line answers at once; keep the promised pace so callers never spin.
  const qint64 rest = waitMs - waited.elapsed();
  if (rest > 0) QThread::msleep(static_cast<unsigned long>(rest));
  return 0;
}

std::unique_ptr<SerialLine> OpenLine(const QString& target, QString& problem) {
  const std::optional<zelnet_ports::Target> parsed = zelnet_ports::ParseTarget(target);
  if (parsed && zelnet_ports::IsNetwork(*parsed)) return NetSerialLine::Open(*parsed, problem);
  return QtSerialLine::Open(target);
}

}  // namespace velkor
