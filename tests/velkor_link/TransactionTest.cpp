// The command transaction: log lines, traces, results and the busy-line guard, over a real pty.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <vector>

#include "PortNames.h"
#include "PtyPeer.h"
#include "ZelnetLink.h"

using namespace velkor;
using zelnet::test::PtyPeer;
using zelnet::test::WithCrc;
using Bytes = std::vector<uint8_t>;

namespace {

const QString kSep = QStringLiteral("==================================");
const Bytes kAck = {0x02, 0x03, 0x06, 0x00, 0xC2, 0x82};

class TransactionTest : public ::testing::Test {
 protected:
  TransactionTest()
      : link(LinkHost{[this](const QString& line) { log << line; },
                      [this] { return showMessages; },
                      [this](const QString& text) { boxes << text; },
                      {}}) {}

  void SetUp() override { ASSERT_TRUE(link.OpenPort('1', 9600)); }

  PtyPeer peer;
  zelnet::test::PortNames ports{{peer.SlavePath()}};
  QStringList log;
  QStringList boxes;
  bool showMessages = false;
  ZelnetLink link;
};

}  // namespace

TEST_F(TransactionTest, AnUnchangedGoodAnswerWritesNothing) {
  link.RecordStatus(0x14);
  peer.QueueAnswer(WithCrc({0x02, 0x03, 0x06, 0x14}));
  Bytes buffer(16);
  EXPECT_EQ(link.SendCommand(0x33, buffer, 30), txOk);
  EXPECT_TRUE(log.isEmpty());
  EXPECT_EQ(link.LastStatus(), 0x14);
}

TEST_F(TransactionTest, TracesRequestAndAnswerAndSeparatesAChangedStatus) {
  showMessages = true;
  link.RecordStatus(0x14);
  peer.QueueAnswer(kAck);
  Bytes buffer(16);
  EXPECT_EQ(link.SendCommand(0x33, buffer, 30), txOk);
  EXPECT_EQ(log, (QStringList{kSep, "-> 02, 03, 06, 33, DA, 81, ", kSep,
                              "<- 02, 03, 06, 00, C2, 82, ", kSep}));
  EXPECT_EQ(link.LastStatus(), 0x14);
}

TEST_F(TransactionTest, ATimeOutTracesTheRequestsOwnBytesAsTheAnswer) {
  showMessages = true;
  link.RecordStatus(0x14);
  Bytes buffer(16);
  EXPECT_EQ(link.SendCommand(0x33, buffer, 10), txTimeOut);
  EXPECT_EQ(log, (QStringList{kSep, "-> 02, 03, 06, 33, DA, 81, ", kSep,
                              "<- 02, 03, 06, 33, DA, 81, ", kSep, "Time-out!"}));
  EXPECT_EQ(link.LastStatus(), 0);
}

TEST_F(TransactionTest, WritesOneLineForEachFailure) {
  struct Case {
    uint8_t code;
    Bytes answer;
    int result;
    QString line;
  } cases[] = {
      {0x31, {0x02, 0x03, 0x06, 0x30, 0x41, 0xB3}, txInvalidCommand, "Invalid command!"},
      {0x31, {0x02, 0x03, 0x06, 0x00, 0x82, 0xC2}, txCrcError, "Error CRC!"},
      {0x60, WithCrc({0x02, 0x03, 0x07, 0x00, 0x31}), txBadStatistics,
       "Statistic data is not correct!"},
      // Longer than the caller's buffer: reported as a bad frame.
      {0x31, WithCrc({0x02, 0x03, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                      0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
       txCrcError, "Error CRC!"},
  };
  for (const Case& c : cases) {
    log.clear();
    link.RecordStatus(0x14);
    peer.QueueAnswer(c.answer);
    Bytes buffer(16);
    EXPECT_EQ(link.SendCommand(c.code, buffer, 50), c.result) << c.line.toStdString();
    EXPECT_EQ(log, (QStringList{kSep, c.line}));
    EXPECT_EQ(link.LastStatus(), 0);
  }
  // 0x30 answers Request Statistics as a good answer.
  log.clear();
  peer.QueueAnswer({0x02, 0x03, 0x06, 0x30, 0x41, 0xB3});
  Bytes buffer(16);
  EXPECT_EQ(link.SendCommand(0x60, buffer, 30), txOk);
}

TEST_F(TransactionTest, AnExtendedAnswerTracesAsThePrefixAlone) {
  showMessages = true;
  link.RecordStatus(0x00);  // the answer's byte 3 (the length's high byte) matches: no separator
  Bytes answer = {0x02, 0x03, 0x00, 0x00, 0x0C, 0x02, 0x05, 0x00, 0x00, 0x00};
  peer.QueueAnswer(WithCrc(answer));
  Bytes buffer(64);
  EXPECT_EQ(link.SendCommand(0x60, buffer, 50), txOk);
  ASSERT_EQ(log.size(), 4);
  EXPECT_EQ(log[3], "<- ");
}

TEST_F(TransactionTest, WithoutAPortOnlyTheBoxesAppear) {
  link.ClosePort();
  Bytes buffer(16);
  EXPECT_EQ(link.SendCommand(0x33, buffer, 30), txNoPort);
  link.SendAck();
  EXPECT_EQ(boxes, (QStringList{"Execute search and reset of the BV!",
                                "Execute search and reset of the BV"}));
  EXPECT_TRUE(log.isEmpty());
  EXPECT_TRUE(peer.RawBytes().empty());
}

TEST_F(TransactionTest, SendAckWritesTheAckFrameAndReadsNothing) {
  showMessages = true;
  link.SendAck();
  EXPECT_EQ(log, (QStringList{kSep, "-> 02, 03, 06, 00, C2, 82, "}));
  ASSERT_TRUE(peer.WaitForRequests(1, 5000));
  EXPECT_EQ(peer.Requests()[0], kAck);
}

TEST_F(TransactionTest, ACommandStartedWhileAnotherWaitsIsRefusedWithoutTouchingTheLine) {
  peer.QueueAnswer({{300, WithCrc({0x02, 0x03, 0x06, 0x14})}});
  int nested = 1;
  bool nestedAckDone = false;
  QTimer::singleShot(0, [&] {  // inside the Poll's wait for its late answer
    Bytes other(16);
    nested = link.SendCommand(0x31, other, 30);
    link.SendAck();
    nestedAckDone = true;
  });
  Bytes buffer(16);
  EXPECT_EQ(link.SendCommand(0x33, buffer, 100), txOk);
  EXPECT_EQ(nested, txBusy);
  EXPECT_TRUE(nestedAckDone);
  EXPECT_EQ(log.count("The line is busy - command refused!"), 2);
  EXPECT_EQ(peer.RawBytes().size(), 6u);  // the Poll alone went out
}

TEST(Delay, ReturnsAfterTheTimeHavingHandledEvents) {
  ZelnetLink link(LinkHost{});
  bool handled = false;
  QTimer::singleShot(20, [&] { handled = true; });
  QElapsedTimer clock;
  clock.start();
  link.Delay(200);
  EXPECT_GE(clock.elapsed(), 190);
  EXPECT_TRUE(handled);
}
