#include "UpdateSequence.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <cstring>

namespace velkup {

namespace {

constexpr int kExchangePauseMs = 100;
constexpr int kConnectPauseMs = 100;
constexpr int kFailurePauseMs = 1000;
constexpr size_t kPollAnswerMax = 8;
constexpr size_t kCommandAnswerMax = 6;
// Longest time the preparation keeps polling while the validator answers Initialize or Idling;
// after it the sequence goes on to update mode.
constexpr qint64 kPrepareLimitMs = 60000;

const QString kReady = QStringLiteral("Ready");
const QString kWriteError = QStringLiteral("Error write data...");

}  // namespace

uint32_t BlockPercent(const TImageWindow& w, uint32_t a) {
  return 100u - (w.end - a) * 100u / (w.end - w.first);
}

const char* PhaseText(TPhase phase) {
  switch (phase) {
    case TPhase::Idle:
      return "idle";
    case TPhase::Loading:
      return "loading the image";
    case TPhase::Preparing:
      return "preparing";
    case TPhase::SwitchingToUpdateMode:
      return "switching to update mode";
    case TPhase::Writing:
      return "writing";
    case TPhase::Finishing:
      return "finishing";
    case TPhase::Ended:
      return "done";
  }
  return "";
}

TUpdateSequence::TUpdateSequence(TCommDrv& drv, TView view) : drv_(drv), view_(std::move(view)) {}

void TUpdateSequence::SetPhase(TPhase phase) {
  if (phase_.exchange(phase) != phase && view_.PhaseChanged) view_.PhaseChanged(phase);
}

void TUpdateSequence::Pause(int ms) {
  QThread::msleep(static_cast<unsigned long>(ms));
}

bool EnsureLineOpen(TCommDrv& drv) {
  if (drv.Connected()) return true;
  drv.ToggleRTS(false);
  drv.ToggleDTR(false);
  drv.Connect();
  QThread::msleep(kConnectPauseMs);
  return drv.Connected();
}

bool TUpdateSequence::EnsureConnected() {
  return EnsureLineOpen(drv_);
}

void TUpdateSequence::SendFrame(const uint8_t* payload, size_t n) {
  if (n + 5 > frame_.size() || !EnsureConnected()) return;
  // With no family selected the address stays that of the last frame sent, never a byte the
  // collector of stray answers left in the buffer.
  const int bv = view_.BVTypeIndex();
  const uint8_t address = bv == 0 ? kAddressQA : bv == 1 ? kAddressQBQC : lastAddress_;
  lastAddress_ = address;
  const size_t total = BuildFrame(address, payload, n, frame_.data());
  stray_.Reset();
  drv_.SendData(frame_.data(), static_cast<uint32_t>(total));
}

size_t TUpdateSequence::ReadAnswer(uint8_t* buffer, size_t size) {
  return ReadAnswerFrame(
      [this](uint8_t* into, uint32_t count) { return drv_.ReadData(into, count); }, buffer, size);
}

void TUpdateSequence::CommDrvReceiveData(QObject*, const void* DataPtr, uint32_t DataSize) {
  stray_.Add(frame_.data(), frame_.size(), static_cast<const uint8_t*>(DataPtr), DataSize);
}

void TUpdateSequence::PollExchange(uint8_t* ex) {
  const uint8_t poll = kCmdPoll, ack = kCmdAck;
  SendFrame(&poll, 1);
  ReadAnswer(ex, kPollAnswerMax);
  SendFrame(&ack, 1);
  Pause(kExchangePauseMs);
  view_.ProcessEvents();
}

void TUpdateSequence::CommandExchange(uint8_t* ex, const uint8_t* payload, size_t n) {
  std::memmove(ex, payload, n);
  SendFrame(ex, n);
  ReadAnswer(ex, kCommandAnswerMax);
  Pause(kExchangePauseMs);
  view_.ProcessEvents();
}

TRunOutcome TUpdateSequence::Finish(TRunOutcome outcome, const QString& status) {
  drv_.Disconnect();
  report_.seconds = static_cast<double>(QDateTime::currentMSecsSinceEpoch() - startedMs_) / 1000;
  // Images whose turn never came in a stopped run.
  if (outcome == TRunOutcome::Stopped)
    for (TImageReport& r : report_.images)
      if (r.blocksWritten < r.blocks && r.failure == TImageFailure::None &&
          (r.chosen || view_.ImageChecked(r.image))) {
        r.chosen = true;
        r.failure = TImageFailure::Stopped;
        r.failedBlockAddress = kImages[static_cast<size_t>(r.image)].first +
                               r.blocksWritten * static_cast<uint32_t>(kBlockSize);
      }
  view_.SetStartEnabled(true);
  view_.SetStatus(status);
  running_ = false;
  SetPhase(TPhase::Ended);
  return outcome;
}

TLoadResult LoadUpdateImage(const QString& fileName, TImageMemory& memory, QString& sha256) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  const TLoadResult load =
      LoadImageFile(QFile::encodeName(fileName).toStdString(), memory,
                    [&](const char* data, size_t n) { hash.addData(QByteArrayView(data, n)); });
  sha256 = QString::fromLatin1(hash.result().toHex());
  return load;
}

TRunOutcome TUpdateSequence::Begin(const TUpdateOptions& options, TPhase phase) {
  running_ = true;
  stopRequested_ = false;
  startedMs_ = QDateTime::currentMSecsSinceEpoch();
  report_ = TRunReport{};
  for (size_t i = 0; i < kImages.size(); ++i) {
    report_.images[i].image = kImages[i].image;
    report_.images[i].blocks =
        (kImages[i].end - kImages[i].first) / static_cast<uint32_t>(kBlockSize);
  }
  report_.baud = options.baudRateIndex == 0 ? 9600 : 19200;
  report_.bvTypeIndex = view_.BVTypeIndex();
  view_.SetStartEnabled(false);
  view_.SetStatus(QStringLiteral("Wait... Reseting Device"));
  SetPhase(phase);
  return TRunOutcome::Ready;
}

TRunOutcome TUpdateSequence::Run(const TUpdateOptions& options) {
  if (running_) return TRunOutcome::Stopped;
  Begin(options, TPhase::Loading);
  // The image file is read afresh at every Start. A file that cannot be read whole is not
  // written into the validator in part: nothing is sent.
  const TLoadResult load = LoadUpdateImage(options.fileName, memory_, report_.sha256);
  if (!load.Ok()) {
    const std::string fileName = QFile::encodeName(options.fileName).toStdString();
    view_.ShowError(QString::fromStdString(DescribeLoadFailure(fileName, load)));
    return Finish(TRunOutcome::FileError, kReady);
  }
  return Update(options, memory_.data());
}

TRunOutcome TUpdateSequence::RunLoaded(const TUpdateOptions& options, const TImageMemory& image,
                                       const QString& sha256) {
  if (running_) return TRunOutcome::Stopped;
  Begin(options, TPhase::Preparing);
  report_.sha256 = sha256;
  if (image.size() != kImageMemorySize) return Finish(TRunOutcome::FileError, kReady);
  return Update(options, image.data());
}

TRunOutcome TUpdateSequence::Update(const TUpdateOptions& options, const uint8_t* image) {
  report_.sentAnything = true;
  drv_.OnReceiveData = [this](QObject* s, const void* p, uint32_t n) {
    CommDrvReceiveData(s, p, n);
  };
  if (!options.portName.isEmpty()) {
    drv_.SetPortName(options.portName);
  } else {
    const int port = options.comPortIndex;
    drv_.SetPortB(port >= 0 && port < 8 ? static_cast<TPortNumber>(port + 1) : pnCustom);
  }
  drv_.SetBaudRateValue(report_.baud);
  report_.portName = drv_.PortName();

  std::array<uint8_t, kExchangeBufferSize> exchange{};
  uint8_t* ex = exchange.data();

  // Preparation, by the state of the first Poll answer.
  SetPhase(TPhase::Preparing);
  PollExchange(ex);
  if (!drv_.Target().isEmpty()) report_.target = drv_.Target();  // the first exchange opened it
  const uint8_t first = ex[3];
  if (first == kStatePowerUp || first == kStateIdling) {
    if (first == kStatePowerUp) {
      const uint8_t reset = kCmdReset;
      CommandExchange(ex, &reset, 1);
    } else {
      const uint8_t disable[7] = {kCmdEnableBillTypes, 0, 0, 0, 0, 0, 0};
      CommandExchange(ex, disable, sizeof disable);
    }
    const uint8_t waitWhile = first == kStatePowerUp ? kStateInitialize : kStateIdling;
    QElapsedTimer since;
    since.start();
    do {
      if (Stopping()) return Finish(TRunOutcome::Stopped, kReady);
      PollExchange(ex);
    } while (ex[3] == waitWhile && since.elapsed() < kPrepareLimitMs);
  }
  if (Stopping()) return Finish(TRunOutcome::Stopped, kReady);

  view_.SetStatus(QStringLiteral("Wait... Switching To Update Mode"));
  SetPhase(TPhase::SwitchingToUpdateMode);
  const uint8_t modeSwitch[3][2] = {
      {kCmdDownload, 0}, {kCmdDownload, kDownloadStart}, {kCmdDownload, kDownloadQueryBlockSize}};
  for (size_t i = 0; i < 3; ++i) {
    CommandExchange(ex, modeSwitch[i], i == 0 ? 1 : 2);
    if (Stopping()) return Finish(TRunOutcome::Stopped, kReady);
  }

  bool anyFailed = false;
  SetPhase(TPhase::Writing);
  for (size_t i = 0; i < kImages.size(); ++i) {
    const TImageWindow& w = kImages[i];
    TImageReport& r = report_.images[i];
    if (!view_.ImageChecked(w.image)) continue;
    r.chosen = true;
    if (view_.ImageProgress) view_.ImageProgress(r);
    for (uint32_t a = w.first; a < w.end; a += kBlockSize) {
      view_.SetStatus(QString::fromLatin1(w.text) + QString::number(BlockPercent(w, a)) + "%");
      BuildWriteBlockPayload(a, image, ex);
      SendFrame(ex, kWriteBlockPayloadSize);
      const bool open = drv_.Connected();
      if (!drv_.Target().isEmpty()) report_.target = drv_.Target();
      const size_t got = ReadAnswer(ex, kCommandAnswerMax);
      if (ex[3] != kDownloadAccepted) {
        r.failedBlockAddress = a;
        if (!open) {
          r.failure = TImageFailure::PortNotOpen;
          r.problem = drv_.OpenProblem();
        } else if (drv_.LineLost())
          r.failure = TImageFailure::PortLost;
        else if (got < 4)
          r.failure = TImageFailure::NoAnswer;
        else
          r.failure = TImageFailure::Refused;
        r.refusedCode = ex[3];
        if (view_.ImageProgress) view_.ImageProgress(r);
        // This image is abandoned; the run goes on with the next one. Start stays disabled
        // until the run ends.
        drv_.Disconnect();
        view_.SetStatus(kWriteError);
        view_.ProcessEvents();
        Pause(kFailurePauseMs);
        anyFailed = true;
        break;
      }
      ++r.blocksWritten;
      if (view_.ImageProgress) view_.ImageProgress(r);
      view_.ProcessEvents();
      if (Stopping()) return Finish(TRunOutcome::Stopped, kReady);
    }
    if (Stopping()) return Finish(TRunOutcome::Stopped, kReady);
  }

  SetPhase(TPhase::Finishing);
  const uint8_t finish[2] = {kCmdDownload, kDownloadFinish};
  std::memmove(ex, finish, 2);
  SendFrame(ex, 2);
  ReadAnswer(ex, exchange.size());
  Pause(kExchangePauseMs);
  view_.ProcessEvents();
  // A run in which an image failed does not end looking like a success.
  return anyFailed ? Finish(TRunOutcome::ImageFailed, kWriteError)
                   : Finish(TRunOutcome::Ready, kReady);
}

}  // namespace velkup
