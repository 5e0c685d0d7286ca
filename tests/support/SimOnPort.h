// bvsim started on a pseudo-terminal of its own and reached by the programs as COM<n>: for each
// port given, ZELNET_COM<n> names the simulator's line for the life of the object and is put
// back as it was afterwards. Tests that use this link bvsim_core.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <optional>
#include <utility>
#include <vector>

#include "bvsim.h"

namespace zelnet::test {

class SimOnPort {
 public:
  explicit SimOnPort(bvsim::Config config = {}, std::vector<int> ports = {1})
      : sim(std::move(config)) {
    started_ = sim.Start();
    EXPECT_TRUE(started_) << sim.LastError();
    // A simulator that did not start leaves a path where no port exists, never a real port.
    const QByteArray path = started_ ? QByteArray::fromStdString(sim.SlavePath())
                                     : QByteArray("/nonexistent/bvsim-not-started");
    for (int n : ports) {
      const QByteArray name = "ZELNET_COM" + QByteArray::number(n);
      saved_.emplace_back(name, qEnvironmentVariableIsSet(name.constData())
                                    ? std::optional(qgetenv(name.constData()))
                                    : std::nullopt);
      qputenv(name.constData(), path);
    }
  }
  ~SimOnPort() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second)
        qputenv(it->first.constData(), *it->second);
      else
        qunsetenv(it->first.constData());
    }
  }
  SimOnPort(const SimOnPort&) = delete;
  SimOnPort& operator=(const SimOnPort&) = delete;

  bool Started() const { return started_; }

  bvsim::Simulator sim;

 private:
  bool started_ = false;
  std::vector<std::pair<QByteArray, std::optional<QByteArray>>> saved_;
};

}  // namespace zelnet::test
