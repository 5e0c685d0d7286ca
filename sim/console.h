// The typed commands of the bvsim executable ("insert 2", "jam", "power cycle"...), run against
// a Simulator. Each command gives its output lines; bad input gives one error line.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "bvsim.h"

namespace bvsim {

class Console {
 public:
  struct Result {
    std::vector<std::string> lines;
    bool ok = true;
    bool quit = false;
  };

  explicit Console(Simulator& sim) : sim_(sim) {}

  // Runs one line. "sleep" and "wait" block the caller (a scenario), at most until
  // Interrupt().
  Result Run(const std::string& line);
  // Ends a running sleep or wait at once (from another thread).
  void Interrupt();
  bool Trace() const { return trace_; }
  void SetLink(const std::string& link) { link_ = link; }
  static std::vector<std::string> Help();

 private:
  Result Status() const;
  Result Fault(const std::vector<std::string>& words);
  Result Script(const std::vector<std::string>& words);
  Result Wait(const std::vector<std::string>& words);
  bool Pause(std::chrono::milliseconds ms);

  Simulator& sim_;
  std::atomic<bool> trace_{true};
  std::string link_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool interrupted_ = false;
};

}  // namespace bvsim
