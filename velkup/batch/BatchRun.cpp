#include "BatchRun.h"

#include <QCoreApplication>

#include "BatchDisplay.h"
#include "Commdrv.h"

namespace velkup {

TPortRun::TPortRun(int index, const QString& port, const TBatchOptions& options,
                   const TImageMemory& image, const QString& sha256, TBatchDisplay& display)
    : index_(index),
      port_(port),
      options_(options),
      image_(image),
      sha256_(sha256),
      display_(display),
      thread_(QThread::create([this] { Work(); })) {}

TPortRun::~TPortRun() {
  Stop();
  Wait();
}

void TPortRun::Start() {
  thread_->start();
}

void TPortRun::Wait() {
  if (thread_) thread_->wait();
}

// Runs on the port's thread: the component and its polling timer live here, and the sequence's
// event passes serve this thread's events only.
void TPortRun::Work() {
  started_ = QDateTime::currentDateTime();
  display_.PortStarted(index_);
  TCommDrv drv(nullptr);
  drv.SetPollingDelay(500);  // as the window sets it
  TUpdateSequence* seq = nullptr;

  TUpdateSequence::TView view;
  view.SetStatus = [](const QString&) {};
  view.PhaseChanged = [this](TPhase phase) { display_.Phase(index_, phase); };
  view.SetStartEnabled = [](bool) {};
  view.BVTypeIndex = [this] { return options_.bvTypeIndex; };
  view.ImageChecked = [this](TImage image) { return options_.images[static_cast<size_t>(image)]; };
  view.ProcessEvents = [this, &seq] {
    QCoreApplication::processEvents();
    if (stop_ && seq) seq->RequestStop();
  };
  view.ShowError = [](const QString&) {};  // the image is loaded and checked before any port
  view.ImageProgress = [this](const TImageReport& r) { display_.Progress(index_, r); };

  TUpdateSequence sequence(drv, std::move(view));
  seq = &sequence;
  TUpdateOptions options;
  options.portName = port_;
  options.baudRateIndex = options_.baud == 9600 ? 0 : 1;
  sequence.RunLoaded(options, image_, sha256_);
  report_ = sequence.LastReport();
  display_.PortDone(index_);
}

}  // namespace velkup
