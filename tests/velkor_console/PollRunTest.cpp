// The poll loop of TPollCycle::Run without a window: it polls while its flag is set, ends after
// the pass in which the flag was cleared, and leaves before the next pass once the window closes.
#include <gtest/gtest.h>

#include <QTimer>

#include "ConsoleRig.h"
#include "Frame.h"
#include "PollCycle.h"

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

size_t Polls(const ScriptedValidator& validator) {
  size_t n = 0;
  for (uint8_t code : validator.Codes()) n += code == kCmdPoll;
  return n;
}

}  // namespace

TEST(PollRun, StopsOrLeavesForAClosingWindowAsItsFlagsSay) {
  ScriptedValidator validator;
  PortNames ports{{validator.peer.SlavePath()}};
  ZelnetLink link(LinkHost{});
  ASSERT_TRUE(link.OpenPort('1', 9600));
  validator.SetStatus(0x14);
  NoActions actions;
  uint8_t active = 0;
  uint8_t closing = 0;

  EXPECT_EQ(TPollCycle(link, actions).Run(active, closing), TPollCycle::End::Stopped);
  EXPECT_EQ(Polls(validator), 0u);

  active = 1;
  size_t atStop = 0;
  When stop([&] { return Polls(validator) >= 3; },
            [&] {
              active = 0;
              atStop = Polls(validator);
            });
  EXPECT_EQ(TPollCycle(link, actions).Run(active, closing), TPollCycle::End::Stopped);
  EXPECT_GE(atStop, 3u);
  EXPECT_EQ(Polls(validator), atStop);  // the pass under way ran to its end, no further Poll
  EXPECT_EQ(link.LastStatus(), 0x14);

  active = 1;
  When close([&] { return Polls(validator) >= atStop + 2; },
             [&] {
               closing = 1;
               atStop = Polls(validator);
             });
  EXPECT_EQ(TPollCycle(link, actions).Run(active, closing), TPollCycle::End::Closing);
  EXPECT_EQ(Polls(validator), atStop);
  EXPECT_EQ(active, 1);  // the window clears it itself
}
