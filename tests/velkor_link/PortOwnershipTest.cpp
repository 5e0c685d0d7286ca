// The port object owns its open port and its timer: opening replaces the open port, a close from
// inside a waiting read is safe and takes effect when the read ends, the timer's handler ends a
// read early; and the link refuses what would start a second exchange.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>
#include <vector>

#include "Frame.h"
#include "PtyPeer.h"
#include "ZelnetLink.h"

using namespace velkor;
using zelnet::test::PtyPeer;
using Bytes = std::vector<uint8_t>;

namespace {

struct PortRig {
  PortRig() { qputenv("ZELNET_COM1", QByteArray::fromStdString(peer.SlavePath())); }
  ~PortRig() { qunsetenv("ZELNET_COM1"); }
  PtyPeer peer;
};

}  // namespace

TEST(PortOwnership, ACloseInsideAWaitingReadEndsItAsATimeOutAndLeavesNoPort) {
  PortRig rig;
  TComPort port(ZelnetFraming());
  ASSERT_TRUE(port.OpenPort('1', 9600));
  ASSERT_TRUE(port.OpenPort('1', 9600));  // in place of the open one, which is released first
  bool closedWhileReading = false;
  QTimer::singleShot(50, [&] {
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
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(port.ReadAnswer(buffer, 300, kCmdPoll), kAnswerTimeOut);
  EXPECT_LT(clock.elapsed(), 1000);  // without a port nothing is waited for
}

TEST(PortOwnership, TheTimersHandlerEndsAWaitingReadAsItsTimeOut) {
  PortRig rig;
  ZelnetLink link(LinkHost{});
  ASSERT_TRUE(link.OpenPort('1', 9600));
  QTimer::singleShot(100, [&] { link.TimerComPortTimer(); });
  QElapsedTimer clock;
  clock.start();
  Bytes buffer(16);
  BuildFrame(kCmdPoll, buffer);
  EXPECT_EQ(link.Exchange(buffer, 10000, kCmdPoll), kAnswerTimeOut);  // 100 s unless cut short
  EXPECT_LT(clock.elapsed(), 5000);
}

TEST(PortOwnership, WhileAnExchangeWaitsEveryOtherExchangeAndSearchIsRefused) {
  PortRig rig;
  ZelnetLink link(LinkHost{});
  ASSERT_TRUE(link.OpenPort('1', 9600));
  EXPECT_TRUE(link.Refusal(false).isEmpty());
  EXPECT_TRUE(link.Refusal(true).isEmpty());
  QString command, search;
  QTimer::singleShot(50, [&] {
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
