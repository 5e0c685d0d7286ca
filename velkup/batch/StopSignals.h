// Ctrl-C and SIGTERM (a console close on Windows) for velkup-batch: the signal only notes the
// request; the owner's `onStop` runs later on the event loop of the thread that created it.
#pragma once

#include <QObject>
#include <functional>

namespace velkup {

class TStopSignals : public QObject {
 public:
  explicit TStopSignals(std::function<void()> onStop);
  ~TStopSignals() override;
  TStopSignals(const TStopSignals&) = delete;
  TStopSignals& operator=(const TStopSignals&) = delete;

  // False when the signals could not be caught; the run is then not started.
  bool Ok() const { return ok_; }

 private:
  std::function<void()> onStop_;
  bool ok_ = false;
};

// Whether standard output is a terminal (progress lines are then redrawn in place).
bool StdoutIsTerminal();

}  // namespace velkup
