// The port object owns its open port and its timer: opening replaces the open port, a close from
// inside a waiting read is safe and takes effect when the read ends, the timer's handler ends a
// read early; and the link refuses what would start a second exchange.
#include <gtest/gtest.h>

#include <QTimer>
#include <vector>

#include "Frame.h"
#include "PortNames.h"
#include "PtyPeer.h"
#include "ZelnetLink.h"

using namespace velkor;
using zelnet::test::PtyPeer;
using Bytes = std::vector<uint8_t>;

namespace {

struct PortRig {
  PtyPeer peer;
  zelnet::test::PortNames ports{{peer.SlavePath()}};
};

}  // namespace

TEST(PortOwnership, ACloseInsideAWaitingReadEndsItAsATimeOutAndLeavesNoPort) {
  PortRig rig;
  TComPort port(ZelnetFraming());
  ASSERT_TRUE(port.OpenPort('1', 9600));
  ASSERT_TRUE(port.OpenPort('1', 9600));  // in place of the open one, which is released first
  // Run by the first window events the waiting read handles.
  bool closedWhileReading = false;
  QTimer::singleShot(0, [&] {
    closedWhileReading = port.Reading();
    port.ClosePort();
  });
  Bytes buffer(16);
  BuildFrame(kCmdPoll, buffer);
  EXPECT_EQ(port.WriteFrame(buffer), 6u);
  EXPECT_EQ(port.ReadAnswer(buffer, 30, kCmdPoll), kAnswerTimeOut);
  EXPECT_TRUE(closedWhileReading);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.WriteFrame(buffer), 65535u);
  // Without a port nothing is waited for: the read returns before any window event is handled.
  QObject scope;  // ends the timer with the test
  bool handled = false;
  QTimer::singleShot(0, &scope, [&] { handled = true; });
  EXPECT_EQ(port.ReadAnswer(buffer, 300, kCmdPoll), kAnswerTimeOut);
  EXPECT_FALSE(handled);
}

TEST(PortOwnership, TheTimersHandlerEndsAWaitingReadAsItsTimeOut) {
  PortRig rig;
  ZelnetLink link(LinkHost{});
  ASSERT_TRUE(link.OpenPort('1', 9600));
  QTimer::singleShot(0, [&] { link.TimerComPortTimer(); });
  // A read of 100 s that the handler did not end is ended by closing its port after a minute:
  // a failure, told apart by the flag.
  bool watchdog = false;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, [&] {
    watchdog = true;
    link.ClosePort();
  });
  deadline.start(60000);
  Bytes buffer(16);
  BuildFrame(kCmdPoll, buffer);
  EXPECT_EQ(link.Exchange(buffer, 10000, kCmdPoll), kAnswerTimeOut);
  EXPECT_FALSE(watchdog) << "the timer's handler did not end the read";
}

TEST(PortOwnership, WhileAnExchangeWaitsEveryOtherExchangeAndSearchIsRefused) {
  PortRig rig;
  ZelnetLink link(LinkHost{});
  ASSERT_TRUE(link.OpenPort('1', 9600));
  EXPECT_TRUE(link.Refusal(false).isEmpty());
  EXPECT_TRUE(link.Refusal(true).isEmpty());
  QString command, search;
  QTimer::singleShot(0, [&] {  // inside the command's wait for its answer
    command = link.Refusal(false);
    search = link.Refusal(true);
  });
  Bytes buffer(16);
  link.SendCommand(kCmdPoll, buffer, 20);
  EXPECT_EQ(command, "The line is busy - command refused!");
  EXPECT_EQ(search, "The line is busy - search refused!");
  EXPECT_TRUE(link.Refusal(false).isEmpty());
}

TEST(Framing, RequestAndAnswerLengthsInBothForms) {
  const LineFraming& framing = ZelnetFraming();
  using Step = LineFraming::Step;
  EXPECT_EQ(framing.RequestLength(Bytes{0x02, 0x03, 0x09, 0x32}), 9u);
  EXPECT_EQ(framing.RequestLength(Bytes{0x02, 0x03, 0x00, 0x50, 0x02, 0x01, 0x0C}), 268u);
  EXPECT_EQ(framing.RequestLength(Bytes{0x02, 0x03, 0x00, 0x50, 0x02, 0x01}), 0u);
  // An answer that exactly fills its buffer is complete, one byte more could never be held.
  EXPECT_EQ(framing.AnswerStep(Bytes{0x02, 0x03, 0x06, 0x00, 0xC2, 0x82}, 6), Step::Complete);
  EXPECT_EQ(framing.AnswerStep(Bytes{0x02, 0x03, 0x07, 0x00, 0xC2}, 6), Step::Malformed);
  EXPECT_EQ(framing.AnswerStep(Bytes{0x02, 0x03, 0x00, 0x01, 0x2C}, 300), Step::More);
  EXPECT_EQ(framing.AnswerStep(Bytes{0x02, 0x03, 0x00, 0x01}, 4), Step::Malformed);
}
