// The poll loop of TPollCycle::Run without a window: it polls while its flag is set, ends after
// the pass in which the flag was cleared, and leaves before the next pass once the window closes.
// The Polls are counted in the link's traces, written as each goes out.
#include <gtest/gtest.h>

#include <QTimer>
#include <array>

#include "ConsoleRig.h"
#include "Frame.h"
#include "PollCycle.h"
#include "bvsim.h"

using namespace velkor::test;
using namespace velkor;

namespace {

class NoActions : public TPollActions {
 public:
  void ShowStatus(uint8_t, uint8_t) override {}
  void ResetSoft() override {}
  void BtnIdentificationClick() override {}
  void BtnGetDescriptionClick() override {}
  void BtnEnableBillClick() override {}
  void BtnStackClick() override {}
  void BtnReturnClick() override {}
  void BtnReqBarCodeClick() override {}
  int EscrowChoice() const override { return 0; }
};

// The Polls the link has written, counted from its byte traces: each is logged as it goes out.
qsizetype Polls(const QStringList& log) {
  return log.count(QStringLiteral("-> 02, 03, 06, 33, DA, 81, "));
}

}  // namespace

TEST(PollRun, StopsOrLeavesForAClosingWindowAsItsFlagsSay) {
  zelnet::test::SimOnPort simPort;
  bvsim::Simulator& sim = simPort.sim;
  QStringList log;
  ZelnetLink link(
      LinkHost{[&log](const QString& line) { log << line; }, [] { return true; }, {}, {}});
  ASSERT_TRUE(link.OpenPort('1', 9600));
  NoActions actions;
  uint8_t active = 0;
  uint8_t closing = 0;

  EXPECT_EQ(TPollCycle(link, actions).Run(active, closing), TPollCycle::End::Stopped);
  EXPECT_EQ(Polls(log), 0);

  active = 1;
  qsizetype atStop = 0;
  When stop([&] { return Polls(log) >= 3; },
            [&] {
              active = 0;
              atStop = Polls(log);
            });
  EXPECT_EQ(TPollCycle(link, actions).Run(active, closing), TPollCycle::End::Stopped);
  EXPECT_GE(atStop, 3);
  EXPECT_EQ(Polls(log), atStop);  // the pass under way ran to its end, no further Poll
  EXPECT_EQ(link.LastStatus(), sim.StatusCode());  // power-up: no Reset came

  active = 1;
  When close([&] { return Polls(log) >= atStop + 2; },
             [&] {
               closing = 1;
               atStop = Polls(log);
             });
  EXPECT_EQ(TPollCycle(link, actions).Run(active, closing), TPollCycle::End::Closing);
  EXPECT_EQ(Polls(log), atStop);
  EXPECT_EQ(active, 1);  // the window clears it itself
  // The validator saw every Poll the log shows, and no other: a last command answered means
  // that everything before it has arrived.
  std::array<uint8_t, 64> buffer{};
  ASSERT_EQ(link.SendCommand(kCmdGetStatus, buffer, 100), txOk);
  qsizetype received = 0;
  for (const bvsim::Frame& frame : sim.ReceivedFrames()) received += frame.bytes == frames::kPoll;
  EXPECT_EQ(received, atStop);
}
