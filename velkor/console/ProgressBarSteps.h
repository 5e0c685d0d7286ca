// TProgressSteps over a QProgressBar (the main window's ProgBarMain). The logical position is
// kept here, so stepping goes on counting beyond the maximum while the bar shows full, and a
// maximum of 0 shows an empty or full bar rather than Qt's busy indicator.
#pragma once

#include <QProgressBar>
#include <algorithm>

#include "HexFile.h"

namespace velkor {

class TProgressBarSteps final : public TProgressSteps {
 public:
  explicit TProgressBarSteps(QProgressBar& bar)
      : bar_(bar), maximum_(bar.maximum()), position_(bar.value()) {}

  void SetMax(int maximum) override {
    maximum_ = std::max(maximum, 0);
    bar_.setRange(0, std::max(maximum_, 1));
    Show();
  }
  void SetPosition(int position) override {
    position_ = position;
    Show();
  }
  int Position() const override { return position_; }

 private:
  void Show() {
    const int shown = maximum_ == 0 && position_ > 0 ? 1 : std::clamp(position_, 0, bar_.maximum());
    bar_.setValue(shown);
  }

  QProgressBar& bar_;
  int maximum_ = 0;
  int position_ = 0;
};

}  // namespace velkor
