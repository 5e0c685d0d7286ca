#include "PollCycle.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <array>

#include "DeviceAnswers.h"
#include "Frame.h"
#include "StatusText.h"

namespace velkor {

namespace {

constexpr int kPollPauseMs = 100;
constexpr int kPollTicks = 30;
constexpr int kBillTableTicks = 200;
// Bill type whose escrow and first stacked report bring a barcode read.
constexpr uint8_t kBarcodeBillType = 23;
constexpr size_t kAnswerBufferSize = 256;

bool IsPowerUp(uint8_t status) {
  return status == kStatusPowerUp || status == kStatusPowerUpBillInAcceptor ||
         status == kStatusPowerUpBillInStacker;
}

}  // namespace

TPollCycle::End TPollCycle::Run(const uint8_t& active, const uint8_t& closing) {
  while (active) {
    if (closing) return End::Closing;
    Pass();
    Pause();
  }
  return End::Stopped;
}

bool TPollCycle::Pass() {
  std::array<uint8_t, kAnswerBufferSize> buffer{};
  if (link_.SendCommand(kCmdPoll, buffer, kPollTicks) != txOk) return false;
  const PollAnswer answer = ReadPollAnswer(AnswerData(buffer));
  const uint8_t s = answer.status;
  const uint8_t b = answer.sub;
  const uint8_t last = link_.LastStatus();
  if (s != last) actions_.ShowStatus(s, b);
  link_.SendAck();
  if (IsPowerUp(s)) actions_.ResetSoft();
  if (s == kStatusStacked && last != kStatusStacked && b == kBarcodeBillType) {
    actions_.BtnReqBarCodeClick();
  }
  if (s == kStatusEscrow) {
    if (b == kBarcodeBillType) actions_.BtnReqBarCodeClick();
    if (actions_.EscrowChoice() == 0) {
      actions_.BtnReturnClick();
    } else {
      actions_.BtnStackClick();
    }
  }
  if (s == kStatusInitialize && !identified_) {
    std::array<uint8_t, kAnswerBufferSize> probe{};
    if (link_.SendCommand(kCmdGetBillTable, probe, kBillTableTicks) == txOk) {
      identified_ = true;
      actions_.BtnIdentificationClick();
      actions_.BtnGetDescriptionClick();
    }
  }
  if (s == kStatusUnitDisabled) {
    identified_ = false;
    actions_.BtnEnableBillClick();
  }
  link_.RecordStatus(s);
  return true;
}

void TPollCycle::Pause() {
  // The window's events (Stop Poll, closing, the controls left enabled) are handled as they
  // arrive; the thread sleeps in between instead of waking every 10 ms to look for them.
  QElapsedTimer paused;
  paused.start();
  QEventLoop pause;
  QTimer::singleShot(kPollPauseMs, Qt::PreciseTimer, &pause, &QEventLoop::quit);
  pause.exec();
  // An event loop returns at once while the application is quitting: never poll faster.
  const qint64 rest = kPollPauseMs - paused.elapsed();
  if (rest > 0) QThread::msleep(static_cast<unsigned long>(rest));
}

}  // namespace velkor
