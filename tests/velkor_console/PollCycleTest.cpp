// The poll loop's decisions without a window: TPollCycle over a link to bvsim, whose Poll answers
// are scripted, with the actions recorded instead of run.
#include <gtest/gtest.h>

#include <QStringList>
#include <algorithm>
#include <chrono>
#include <vector>

#include "ConsoleRig.h"
#include "Frame.h"
#include "PollCycle.h"
#include "StatusText.h"
#include "bvsim.h"

using namespace velkor::test;
using namespace velkor;

namespace {

class RecordingActions : public TPollActions {
 public:
  void ShowStatus(uint8_t status, uint8_t sub) override {
    done << QStringLiteral("status %1/%2").arg(status, 2, 16, QLatin1Char('0')).arg(sub);
  }
  void ResetSoft() override { done << "reset"; }
  void BtnIdentificationClick() override { done << "identification"; }
  void BtnGetDescriptionClick() override { done << "bill table"; }
  void BtnEnableBillClick() override { done << "enable"; }
  void BtnStackClick() override { done << "stack"; }
  void BtnReturnClick() override { done << "return"; }
  void BtnReqBarCodeClick() override { done << "barcode"; }
  int EscrowChoice() const override { return choice; }

  QStringList done;
  int choice = 0;
};

struct CycleRig {
  CycleRig() : link(LinkHost{[this](const QString& line) { log << line; }, {}, {}, {}}) {
    EXPECT_TRUE(link.OpenPort('1', 9600));
  }

  // One pass with the validator reporting `poll`; what the cycle asked for.
  QStringList Pass(const Bytes& poll) {
    sim.ScriptPollAnswers({poll});
    actions.done.clear();
    const size_t before = sim.ReceivedFrames().size();
    // The ACK goes out without an answer: wait for it to arrive before the next look.
    if (cycle.Pass()) sim.WaitForFrames(before + 2, std::chrono::seconds(10));
    return actions.done;
  }
  // The codes of the requests received, ACKs included.
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const bvsim::Frame& frame : sim.ReceivedFrames()) codes.push_back(frame.Command());
    return codes;
  }

  zelnet::test::SimOnPort simPort;
  bvsim::Simulator& sim = simPort.sim;
  QStringList log;
  ZelnetLink link;
  RecordingActions actions;
  TPollCycle cycle{link, actions};
};

}  // namespace

TEST(PollCycle, EachReportedStateLeadsToItsAction) {
  CycleRig rig;
  EXPECT_EQ(rig.Pass({kStatusPowerUp, 0}), (QStringList{"status 10/0", "reset"}));
  EXPECT_EQ(rig.link.LastStatus(), kStatusPowerUp);
  // Initialisation: a bill-table probe, then identification and bill table, once.
  EXPECT_EQ(rig.Pass({kStatusInitialize, 0}),
            (QStringList{"status 13/0", "identification", "bill table"}));
  EXPECT_EQ(rig.Pass({kStatusInitialize, 0}), QStringList{});
  EXPECT_EQ(rig.Pass({kStatusUnitDisabled, 0}), (QStringList{"status 19/0", "enable"}));
  EXPECT_EQ(rig.Pass({kStatusUnitDisabled, 0}), QStringList{"enable"});
  // Disabled, then initialising again: identification is read anew.
  EXPECT_EQ(rig.Pass({kStatusInitialize, 0}),
            (QStringList{"status 13/0", "identification", "bill table"}));
  EXPECT_EQ(rig.Pass({kStatusIdling, 0}), QStringList{"status 14/0"});
  EXPECT_EQ(rig.Pass({kStatusIdling, 0}), QStringList{});

  // Every good Poll is acknowledged; the probe went out once per initialisation.
  const std::vector<int> codes = rig.Codes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), kCmdGetBillTable), 2);
  size_t acks = 0;
  for (const bvsim::Frame& frame : rig.sim.ReceivedFrames()) acks += frame.bytes == frames::kAck;
  EXPECT_EQ(acks, 8u);
}

TEST(PollCycle, AnEscrowIsReturnedOrStackedByTheBoxAndBillType23BringsItsBarcode) {
  CycleRig rig;
  EXPECT_EQ(rig.Pass({kStatusEscrow, 5}), (QStringList{"status 80/5", "return"}));
  EXPECT_EQ(rig.Pass({kStatusEscrow, 5}), QStringList{"return"});  // acted on at every pass
  rig.actions.choice = 1;
  EXPECT_EQ(rig.Pass({kStatusEscrow, 5}), QStringList{"stack"});
  rig.actions.choice = -1;  // no item chosen stacks too
  EXPECT_EQ(rig.Pass({kStatusEscrow, 23}), (QStringList{"barcode", "stack"}));
  EXPECT_EQ(rig.Pass({kStatusStacked, 23}), (QStringList{"status 81/23", "barcode"}));
  EXPECT_EQ(rig.Pass({kStatusStacked, 23}), QStringList{});
}

TEST(PollCycle, AFailedPollActsOnNothingAndShowsTheNextGoodStatusAgain) {
  CycleRig rig;
  EXPECT_EQ(rig.Pass({kStatusIdling, 0}), QStringList{"status 14/0"});
  rig.sim.SetSilent(true);
  const size_t frames = rig.sim.ReceivedFrames().size();
  rig.actions.done.clear();
  EXPECT_FALSE(rig.cycle.Pass());
  EXPECT_TRUE(rig.actions.done.isEmpty());
  EXPECT_EQ(rig.link.LastStatus(), 0);
  EXPECT_EQ(rig.sim.ReceivedFrames().size(), frames + 1);  // the Poll, no ACK
  rig.sim.SetSilent(false);
  EXPECT_EQ(rig.Pass({kStatusIdling, 0}), QStringList{"status 14/0"});
}
