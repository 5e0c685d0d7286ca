// One port of velkup-batch on a thread of its own, with its own TCommDrv, over the image that
// every port shares read-only. It identifies the unit, runs the update sequence, checks that the
// unit comes back; in --watch it does that for every unit plugged into the port, one after the
// other, until it is stopped.
#pragma once

#include <QDateTime>
#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "BatchOptions.h"
#include "BatchUnits.h"
#include "ImageFile.h"
#include "UnitCheck.h"
#include "UpdateSequence.h"

namespace velkup {

class TBatchDisplay;

class TPortRun {
 public:
  // ledger: the watch run's book, for --watch; null for one update per port.
  TPortRun(int index, const QString& port, const TBatchOptions& options, const TImageMemory& image,
           const QString& sha256, TBatchDisplay& display, TWatchLedger* ledger = nullptr);
  ~TPortRun();
  TPortRun(const TPortRun&) = delete;
  TPortRun& operator=(const TPortRun&) = delete;

  // The thread, to connect to its finished() signal before Start.
  QThread* Thread() const { return thread_.get(); }
  void Start();
  // Stops the port after its block or exchange in flight, without DownloadFinish; a watching
  // port stops watching. Any thread.
  void Stop();
  void Wait();

  // Valid once the thread has finished (one update per port).
  const TUnitRecord& Record() const { return record_; }

 private:
  void Work();
  // Identifies the unit on the port, updates it unless the ledger has it done, checks that it
  // comes back.
  TUnitRecord UpdateUnit(TCommDrv& drv, TUnitProbe& probe);
  // --watch: every unit plugged in, until stopped.
  void Watch(TCommDrv& drv, TUnitProbe& probe);
  // Whether the port's adapter is there to be opened: a device path that exists, or a target
  // that is no path.
  bool PortPresent() const;
  // Closes the line when what it was opened on is gone: the device went away, or the port's
  // name now leads nowhere or to another device (an adapter plugged in anew). True when it
  // closed it.
  bool DropStaleLine(TCommDrv& drv);
  // Waits up to ms; false once stopped.
  bool Sleep(qint64 ms);
  bool Stopping() const { return stop_; }

  const int index_;
  const QString port_;
  const TBatchOptions& options_;
  const TImageMemory& image_;
  const QString sha256_;
  TBatchDisplay& display_;
  TWatchLedger* const ledger_;
  std::unique_ptr<QThread> thread_;
  std::atomic<bool> stop_ = false;
  std::mutex sleepMu_;
  std::condition_variable sleepCv_;
  TUnitRecord record_;
  QString openedOn_;  // the device the open line leads to
};

}  // namespace velkup
