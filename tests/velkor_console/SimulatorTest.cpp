// Velkor against bvsim, the simulated validator, end to end: the poll loop follows it through
// initialisation, bills to escrow, stack and return, a coupon with its barcode, a rejected bill,
// a power cycle and a spell of silence, line by line.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "ConsoleRig.h"
#include "bvsim.h"

using namespace velkor::test;
using velkor::TMainForm;

namespace {

// How many times the validator was seen to reach idling.
qsizetype Idlings(const SimConsole& console) {
  return console.Lines().count("* Idling");
}

std::vector<int> CommandsReceived(const bvsim::Simulator& sim) {
  std::vector<int> codes;
  for (const bvsim::Frame& f : sim.ReceivedFrames()) codes.push_back(f.Command());
  return codes;
}

}  // namespace

TEST(WithTheSimulator, StartPollFollowsBillsThroughEscrowStackReturnAndRejection) {
  SimConsole c;
  TMainForm& form = *c.form;
  EXPECT_EQ(c.Lines(), (QStringList{kSep, kSep, "Device has found on COM1!", kSep, "* Power Up"}));
  // Escrow for bill types 2 and 3 and for the coupon (23): bit t of the 24-bit mask.
  Control<QLineEdit>(form, "EditEscBillByte1")->setText("10000000");
  Control<QLineEdit>(form, "EditEscBillByte3")->setText("00001100");

  // Each bill goes in once the validator idles after the one before.
  When insert50([&] { return Idlings(c) == 1; }, [&] { c.sim.InsertBill(2); });
  When insert100(
      [&] { return Idlings(c) == 2; },
      [&] {
        Control<QComboBox>(form, "CmbBoxPoll")->setCurrentIndex(1);  // "Stack" from now on
        c.sim.InsertBill(3);
      });
  When insertCoupon([&] { return Idlings(c) == 3; },
                    [&] { c.sim.InsertCoupon("123456789012345678"); });
  When insertRejected([&] { return Idlings(c) == 4; },
                      [&] {
                        c.sim.RejectNextBill(0x67);
                        c.sim.InsertBill(5);
                      });
  RunPollLoop(
      form, [&] { return Idlings(c) == 5; }, 20000);

  // Start-up: Reset, initialisation with identification and bill table, enabling, idling.
  EXPECT_TRUE(c.Lines().contains("* Initialize"));
  EXPECT_TRUE(c.Lines().contains("* Part Number - ZBV-700-USA"));
  EXPECT_TRUE(c.Lines().contains("* Serial Number - K21A00004711"));
  EXPECT_TRUE(c.Lines().contains("* Asset Number - 12345"));
  EXPECT_TRUE(c.Lines().contains("*   2- 50-USA;   "));
  EXPECT_TRUE(c.Lines().contains("* Unit Disabled"));
  EXPECT_TRUE(c.Lines().contains("The Enable Bill Types-command is executed"));

  // The road of one escrow, returned; then one stacked; then the coupon, whose barcode is read
  // at its escrow and once more when it is stacked; then a rejection.
  const QStringList lines = c.Lines();
  const qsizetype first = lines.indexOf("* Accepting");
  ASSERT_GE(first, 1);
  EXPECT_EQ(lines.mid(first - 1), (QStringList{kSep, "* Accepting",
                                               kSep, "* Escrow - 50-USA",
                                               kSep, "The Return-command is executed",
                                               kSep, "* Returning",
                                               kSep, "* Returned - 50-USA",
                                               kSep, "* Idling",
                                               kSep, "* Accepting",
                                               kSep, "* Escrow - 100-USA",
                                               kSep, "The Stack-command is executed",
                                               kSep, "* Stacking",
                                               kSep, "* Stacked - 100-USA",
                                               kSep, "* Idling",
                                               kSep, "* Accepting",
                                               kSep, "* Escrow - 0-",
                                               kSep, "BarCode: 123456789012345678;",
                                               kSep, "The Stack-command is executed",
                                               kSep, "* Stacking",
                                               kSep, "* Stacked - 0-",
                                               kSep, "BarCode: 123456789012345678;",
                                               kSep, "* Idling",
                                               kSep, "* Accepting",
                                               kSep, "* Rejecting because of - Optic",
                                               kSep, "* Idling"}));
  const bvsim::Counters counters = c.sim.GetCounters();
  EXPECT_EQ(counters.returned, 1u);
  EXPECT_EQ(counters.stacked, 2u);
  EXPECT_EQ(counters.rejected, 1u);

  // On the wire: every good Poll answer acknowledged, Return and Stack frames as specified.
  const std::vector<int> codes = CommandsReceived(c.sim);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x36), 1);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x35), 2);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x3A), 2);
  const auto polls = std::count(codes.begin(), codes.end(), 0x33);
  const auto acks = std::count(codes.begin(), codes.end(), 0x00);
  EXPECT_EQ(acks, polls - 2);  // the start-up search's two polls are not acknowledged
  for (const bvsim::Frame& f : c.sim.ReceivedFrames()) {
    EXPECT_TRUE(f.crcOk);
    if (f.Command() == 0x36) {
      EXPECT_EQ(f.bytes, frames::kReturn);
    }
    if (f.Command() == 0x00) {
      EXPECT_EQ(f.bytes, frames::kAck);
    }
  }
  EXPECT_TRUE(c.dialogs.errorBoxes.isEmpty());
}

TEST(WithTheSimulator, APowerCycleBringsAResetAndANewInitialisationAndSilenceOnlyTimeOuts) {
  SimConsole c;
  TMainForm& form = *c.form;
  When silence([&] { return Idlings(c) == 1; }, [&] { c.sim.SetSilent(true); });
  When speak([&] { return c.Lines().count("Time-out!") >= 2; }, [&] { c.sim.SetSilent(false); });
  When powerCycle([&] { return Idlings(c) == 2; }, [&] { c.sim.PowerCycle(); });
  RunPollLoop(
      form, [&] { return Idlings(c) == 3; }, 20000);

  const QStringList lines = c.Lines();
  // Silence: the loop goes on writing time-outs, and the first answer after them shows again.
  const qsizetype firstTimeOut = lines.indexOf("Time-out!");
  ASSERT_GE(firstTimeOut, 1);
  qsizetype i = firstTimeOut - 1;
  while (lines.value(i) == kSep && lines.value(i + 1) == "Time-out!") i += 2;
  const qsizetype timeOuts = (i - firstTimeOut + 1) / 2;
  EXPECT_GE(timeOuts, 2);
  EXPECT_EQ(lines.mid(i, 2), (QStringList{kSep, "* Idling"}));
  // A Poll that timed out is not acknowledged: the next request is the next Poll. (The two Polls
  // of the start-up search come first and are never acknowledged.)
  const std::vector<int> codes = CommandsReceived(c.sim);
  qsizetype unacknowledged = 0;
  for (size_t k = 2; k + 1 < codes.size(); ++k) {
    if (codes[k] == 0x33 && codes[k + 1] == 0x33) ++unacknowledged;
  }
  EXPECT_EQ(unacknowledged, timeOuts);
  // The power cycle: "* Power Up", the loop's Reset, and identification and bill table again.
  const qsizetype powerUp = lines.indexOf("* Power Up", i);
  ASSERT_GT(powerUp, 0);
  // The Reset's answer (0x00) differs from the idling status still recorded: a separator.
  EXPECT_EQ(lines.mid(powerUp, 4),
            (QStringList{"* Power Up", kSep, kSep, "The Reset-soft is executed successfully!"}));
  EXPECT_EQ(lines.mid(powerUp).count("* Initialize"), 1);
  EXPECT_EQ(lines.mid(powerUp).count("* Part Number - ZBV-700-USA"), 1);
  EXPECT_EQ(lines.mid(powerUp).count("* Unit Disabled"), 1);
  EXPECT_EQ(lines.count("* Part Number - ZBV-700-USA"), 2);
  EXPECT_EQ(c.sim.StatusCode(), 0x14);
  EXPECT_EQ(c.sim.EnabledMask(), (std::array<uint8_t, 3>{0xFF, 0xFF, 0xFF}));
}
