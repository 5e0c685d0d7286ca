// One port of velkup-batch: the update sequence on a thread of its own, with its own TCommDrv,
// over the image that every port shares read-only.
#pragma once

#include <QDateTime>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>

#include "BatchOptions.h"
#include "ImageFile.h"
#include "UpdateSequence.h"

namespace velkup {

class TBatchDisplay;

class TPortRun {
 public:
  TPortRun(int index, const QString& port, const TBatchOptions& options, const TImageMemory& image,
           const QString& sha256, TBatchDisplay& display);
  ~TPortRun();
  TPortRun(const TPortRun&) = delete;
  TPortRun& operator=(const TPortRun&) = delete;

  // The thread, to connect to its finished() signal before Start.
  QThread* Thread() const { return thread_.get(); }
  void Start();
  // Stops the port after its block or exchange in flight, without DownloadFinish. Any thread.
  void Stop() { stop_ = true; }
  void Wait();

  // Valid once the thread has finished.
  const TRunReport& Report() const { return report_; }
  QDateTime Started() const { return started_; }

 private:
  void Work();

  const int index_;
  const QString port_;
  const TBatchOptions& options_;
  const TImageMemory& image_;
  const QString sha256_;
  TBatchDisplay& display_;
  std::unique_ptr<QThread> thread_;
  std::atomic<bool> stop_ = false;
  TRunReport report_;
  QDateTime started_;
};

}  // namespace velkup
