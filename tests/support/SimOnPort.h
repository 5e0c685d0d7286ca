// bvsim started on a pseudo-terminal of its own and reached by the programs as COM<n>: for each
// port given, COM<n> names the simulator's line for the life of the object (PortNames). Tests
// that use this link bvsim_core.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "PortNames.h"
#include "bvsim.h"

namespace zelnet::test {

class SimOnPort {
 public:
  explicit SimOnPort(bvsim::Config config = {}, std::vector<int> ports = {1})
      : sim(std::move(config)) {
    started_ = sim.Start();
    EXPECT_TRUE(started_) << sim.LastError();
    // A simulator that did not start leaves a path where no port exists, never a real port.
    const std::string path = started_ ? sim.SlavePath() : "/nonexistent/bvsim-not-started";
    for (int n : ports) names.Set(n, path);
  }
  SimOnPort(const SimOnPort&) = delete;
  SimOnPort& operator=(const SimOnPort&) = delete;

  bool Started() const { return started_; }

  bvsim::Simulator sim;
  // The port names, for a test that points other ports elsewhere too.
  PortNames names;

 private:
  bool started_ = false;
};

}  // namespace zelnet::test
