#include "UnitCheck.h"

#include <QElapsedTimer>
#include <QThread>
#include <array>

#include "Frames.h"
#include "UpdateSequence.h"

namespace velkup {

namespace {

constexpr int kIdentifyAnswerMs = 600;
constexpr int kComeBackPollMs = 500;
constexpr size_t kShortFrameMax = 255;  // a short frame's length byte says it all

QString IdText(const uint8_t* data, size_t width) {
  QString text;
  for (size_t i = 0; i < width && data[i] != 0; ++i)
    text += data[i] < 0x20 || data[i] == 0x7F ? QChar('?') : QChar(data[i]);
  return text;
}

// The driver's inactivity time-out, set for one read and put back afterwards.
class TAnswerWait {
 public:
  TAnswerWait(TCommDrv& drv, int ms) : drv_(drv), saved_(drv.InputTimeout) {
    drv_.InputTimeout = static_cast<uint32_t>(ms);
  }
  ~TAnswerWait() { drv_.InputTimeout = saved_; }
  TAnswerWait(const TAnswerWait&) = delete;
  TAnswerWait& operator=(const TAnswerWait&) = delete;

 private:
  TCommDrv& drv_;
  const uint32_t saved_;
};

}  // namespace

std::optional<TUnitIdentity> DecodeIdentification(const uint8_t* data, size_t n) {
  if (n < kIdentificationSize) return std::nullopt;
  TUnitIdentity id;
  id.partNumber = IdText(data, 15);
  id.serialNumber = IdText(data + 15, 12);
  for (size_t i = 27; i < 34; ++i) id.assetNumber = id.assetNumber << 8 | data[i];
  return id;
}

bool TUnitProbe::Open() {
  return EnsureLineOpen(drv_);
}

std::optional<std::vector<uint8_t>> TUnitProbe::Exchange(const uint8_t* payload, size_t n,
                                                         int answerMs) {
  if (!Open()) return std::nullopt;
  std::array<uint8_t, kShortFrameMax> frame{};
  if (n + 5 > frame.size()) return std::nullopt;
  // An answer that came too late for an earlier read must not be taken for this one.
  drv_.FlushBuffers(true, false);
  const size_t total = BuildFrame(address_, payload, n, frame.data());
  drv_.SendData(frame.data(), static_cast<uint32_t>(total));

  TAnswerWait wait(drv_, answerMs);
  const size_t got =
      ReadAnswerFrame([this](uint8_t* into, uint32_t count) { return drv_.ReadData(into, count); },
                      frame.data(), frame.size());
  // A whole short frame from this address with at least one data byte; the extended form is no
  // answer to these requests.
  const size_t length = frame[2];
  if (got < 6 || got != length || frame[0] != kSync || frame[1] != address_) return std::nullopt;
  const uint16_t crc = CalcCrc16(frame.data(), length);
  if (frame[length - 2] != (crc & 0xFF) || frame[length - 1] != crc >> 8) return std::nullopt;
  return std::vector<uint8_t>(frame.begin() + 3, frame.begin() + static_cast<long>(length) - 2);
}

std::optional<TUnitIdentity> TUnitProbe::Identify() {
  const uint8_t request = kCmdIdentification;
  const auto data = Exchange(&request, 1, kIdentifyAnswerMs);
  if (!data) return std::nullopt;
  return DecodeIdentification(data->data(), data->size());
}

std::optional<uint8_t> TUnitProbe::Poll(int answerMs) {
  const uint8_t poll = kCmdPoll;
  const auto data = Exchange(&poll, 1, answerMs);
  if (!data) return std::nullopt;
  std::array<uint8_t, 6> ack{};
  const uint8_t ackPayload = kCmdAck;
  drv_.SendData(ack.data(),
                static_cast<uint32_t>(BuildFrame(address_, &ackPayload, 1, ack.data())));
  return data->front();
}

TComeBack TUnitProbe::WaitForComeBack(int timeoutMs, const std::function<bool()>& stop) {
  TComeBack result;
  QElapsedTimer since;
  since.start();
  for (qint64 next = 0; since.elapsed() <= timeoutMs && !(stop && stop());
       next += kComeBackPollMs) {
    if (const qint64 wait = next - since.elapsed(); wait > 0)
      QThread::msleep(static_cast<unsigned long>(wait));
    if (const auto status = Poll()) {
      result.back = true;
      result.seconds = static_cast<double>(since.elapsed()) / 1000;
      result.status = *status;
      result.identity = Identify();
      return result;
    }
    // A line that went away (an adapter unplugged while the unit restarts) is opened again.
    if (drv_.LineLost()) drv_.Disconnect();
  }
  return result;
}

}  // namespace velkup
