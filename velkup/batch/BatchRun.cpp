#include "BatchRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include "BatchDisplay.h"
#include "Commdrv.h"
#include "UpdateHistory.h"

namespace velkup {

namespace {

constexpr int kEmptyPollMs = 1000;   // one Poll a second while a port is empty
constexpr int kAdapterLookMs = 250;  // how often a missing adapter is looked for
constexpr int kGoneAfterMs = 3000;   // a unit is gone after this long without an answer

}  // namespace

TPortRun::TPortRun(int index, const QString& port, const TBatchOptions& options,
                   const TImageMemory& image, const QString& sha256, TBatchDisplay& display,
                   TWatchLedger* ledger)
    : index_(index),
      port_(port),
      options_(options),
      image_(image),
      sha256_(sha256),
      display_(display),
      ledger_(ledger),
      thread_(QThread::create([this] { Work(); })) {}

TPortRun::~TPortRun() {
  Stop();
  Wait();
}

void TPortRun::Start() {
  thread_->start();
}

void TPortRun::Stop() {
  {
    std::lock_guard lock(sleepMu_);
    stop_ = true;
  }
  sleepCv_.notify_all();
}

void TPortRun::Wait() {
  if (thread_) thread_->wait();
}

bool TPortRun::Sleep(qint64 ms) {
  std::unique_lock lock(sleepMu_);
  if (ms > 0)
    sleepCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
  return !stop_;
}

namespace {

// The device a port's name leads to now; empty when its path leads nowhere.
QString DeviceBehind(const QString& port) {
  const QString target = ResolvePortName(port);
  return target.startsWith(QLatin1Char('/')) ? QFileInfo(target).canonicalFilePath() : target;
}

}  // namespace

bool TPortRun::PortPresent() const {
  return !DeviceBehind(port_).isEmpty();
}

bool TPortRun::DropStaleLine(TCommDrv& drv) {
  if (!drv.Connected()) {
    openedOn_.clear();
    return false;
  }
  const QString now = DeviceBehind(port_);
  if (openedOn_.isEmpty()) openedOn_ = now;
  if (!drv.LineLost() && !now.isEmpty() && now == openedOn_) return false;
  drv.Disconnect();
  openedOn_.clear();
  return true;
}

// Runs on the port's thread: the component and its polling timer live here, and the sequence's
// event passes serve this thread's events only.
void TPortRun::Work() {
  TCommDrv drv(nullptr);
  drv.SetPollingDelay(500);  // as the window sets it
  drv.SetPortName(port_);
  drv.SetBaudRateValue(options_.baud);
  TUnitProbe probe(drv, options_.bvTypeIndex == 0 ? kAddressQA : kAddressQBQC);
  if (ledger_) {
    Watch(drv, probe);
  } else {
    record_ = UpdateUnit(drv, probe);
    display_.PortDone(index_);
  }
  drv.Disconnect();
}

TUnitRecord TPortRun::UpdateUnit(TCommDrv& drv, TUnitProbe& probe) {
  TUnitRecord record;
  record.port = index_;
  record.started = QDateTime::currentDateTime();
  QElapsedTimer elapsed;
  elapsed.start();
  display_.PortStarted(index_);
  display_.Activity(index_, QStringLiteral("identifying"));
  record.check.before = probe.Identify();
  display_.Identified(index_, SerialText(record.check));

  if (ledger_ && ledger_->AlreadyDone(record.check, sha256_)) {
    record.run.portName = port_;
    record.run.baud = options_.baud;
    record.run.bvTypeIndex = options_.bvTypeIndex;
    record.run.sha256 = sha256_;
    record.result = kResultAlreadyDone;
    record.seconds = static_cast<double>(elapsed.elapsed()) / 1000;
    return record;
  }
  // An identification answered too late must not be read as the sequence's first answer.
  if (!record.check.before) drv.FlushBuffers(true, false);

  TUpdateSequence* seq = nullptr;
  TUpdateSequence::TView view;
  view.SetStatus = [](const QString&) {};
  view.PhaseChanged = [this](TPhase phase) { display_.Phase(index_, phase); };
  view.SetStartEnabled = [](bool) {};
  view.BVTypeIndex = [this] { return options_.bvTypeIndex; };
  view.ImageChecked = [this](TImage image) { return options_.images[static_cast<size_t>(image)]; };
  view.ProcessEvents = [this, &seq] {
    QCoreApplication::processEvents();
    if (Stopping() && seq) seq->RequestStop();
  };
  view.ShowError = [](const QString&) {};  // the image is loaded and checked before any port
  view.ImageProgress = [this](const TImageReport& r) { display_.Progress(index_, r); };

  TUpdateSequence sequence(drv, std::move(view));
  seq = &sequence;
  TUpdateOptions options;
  options.portName = port_;
  options.baudRateIndex = options_.baud == 9600 ? 0 : 1;
  const TRunOutcome outcome = sequence.RunLoaded(options, image_, sha256_);
  record.run = sequence.LastReport();

  // A port that never opened reached no unit: there is nothing to see come back.
  bool reached = false;
  for (const TImageReport& r : record.run.images)
    reached = reached || (r.chosen && r.failure != TImageFailure::PortNotOpen);
  bool stoppedInCheck = false;
  if (options_.verify && reached && outcome != TRunOutcome::Stopped && !Stopping()) {
    display_.Activity(index_, QStringLiteral("checking that it comes back"));
    record.check.verified = true;
    record.check.after =
        probe.WaitForComeBack(options_.verifyTimeoutS * 1000, [this] { return Stopping(); });
    if (!record.check.after.back && Stopping()) {
      record.check.verified = false;
      stoppedInCheck = true;
    }
    display_.Activity(index_, ComeBackText(record.check));
  }
  record.seconds = static_cast<double>(elapsed.elapsed()) / 1000;
  SetUnitResult(record);
  if (stoppedInCheck) {
    record.result = kResultFailed;
    record.reason = QStringLiteral("stopped before it came back");
  }
  return record;
}

void TPortRun::Watch(TCommDrv& drv, TUnitProbe& probe) {
  const QString file = QFileInfo(options_.imageFile).absoluteFilePath();
  QElapsedTimer tick;
  while (!Stopping()) {
    // Empty: one Poll a second while the adapter is there; a missing one is looked for, and
    // nothing is sent until it is back.
    display_.Waiting(index_, QStringLiteral("waiting for a unit"));
    bool found = false;
    while (!found && !Stopping()) {
      tick.start();
      DropStaleLine(drv);
      if (!drv.Connected() && !PortPresent()) {
        Sleep(kAdapterLookMs);
        continue;
      }
      found = probe.Poll().has_value();
      DropStaleLine(drv);
      if (!found) Sleep(kEmptyPollMs - tick.elapsed());
    }
    if (!found) break;

    const TUnitRecord record = UpdateUnit(drv, probe);
    ledger_->Add(record);
    TUpdateHistory().Record({UnitHistoryEntry(port_, file, record)});
    display_.UnitDone(index_, UnitLine(port_, record));
    if (Stopping()) break;

    // The next unit only once this one is gone: no answer for three seconds, or its line gone
    // with it (a unit that carries its own adapter).
    display_.Waiting(index_, QStringLiteral("waiting for the unit to be taken away"), true);
    QElapsedTimer silent;
    silent.start();
    while (!Stopping() && silent.elapsed() < kGoneAfterMs) {
      tick.start();
      if (DropStaleLine(drv)) break;
      if ((drv.Connected() || PortPresent()) && probe.Poll()) silent.restart();
      if (DropStaleLine(drv)) break;
      Sleep(kEmptyPollMs - tick.elapsed());
    }
  }
}

}  // namespace velkup
