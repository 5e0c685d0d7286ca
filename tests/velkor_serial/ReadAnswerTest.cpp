// TComPort against a real pseudo-terminal peer.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <vector>

#include "Frame.h"
#include "PortNames.h"
#include "PtyPeer.h"
#include "Workcom.h"

using namespace velkor;
using zelnet::test::PortNames;
using zelnet::test::PtyPeer;
using zelnet::test::WithCrc;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes kAck = {0x02, 0x03, 0x06, 0x00, 0xC2, 0x82};
const Bytes kInvalid = {0x02, 0x03, 0x06, 0x30, 0x41, 0xB3};

class ReadAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(port.OpenPort('1', 9600)); }
  void TearDown() override { port.ClosePort(); }

  // Writes the request for `code` from `buffer` and reads its answer into the same buffer.
  int Exchange(uint8_t code, std::span<uint8_t> buffer, int ticks = 30) {
    BuildFrame(code, buffer);
    port.WriteFrame(buffer);
    QElapsedTimer clock;
    clock.start();
    const int result = port.ReadAnswer(buffer, ticks, code);
    elapsedMs = clock.elapsed();
    return result;
  }

  PtyPeer peer;
  PortNames ports{{peer.SlavePath()}};
  TComPort port{ZelnetFraming()};
  qint64 elapsedMs = 0;
};

}  // namespace

TEST_F(ReadAnswerTest, ReturnsTheLengthOfACompleteAnswerInTheCallersBuffer) {
  peer.QueueAnswer(kAck);
  Bytes buffer(32);
  EXPECT_EQ(Exchange(0x33, buffer), 6);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), kAck);
  ASSERT_TRUE(peer.WaitForRequests(1, 5000));
  EXPECT_EQ(peer.Requests()[0], (Bytes{0x02, 0x03, 0x06, 0x33, 0xDA, 0x81}));
}

TEST_F(ReadAnswerTest, AByteAtATimeGivesTheSameAnswerAsAllAtOnce) {
  const Bytes answer = WithCrc({0x02, 0x03, 0x0A, 0x80, 0x02, 0x11, 0x22, 0x33});
  peer.QueueAnswer(answer);
  peer.QueueDrip(answer, 5);
  Bytes bulk(32), dripped(32);
  EXPECT_EQ(Exchange(0x33, bulk), 10);
  EXPECT_EQ(Exchange(0x33, dripped), 10);
  EXPECT_EQ(bulk, dripped);
}

TEST_F(ReadAnswerTest, ALateAnswerCountsOnlyInsideTheTimeOut) {
  peer.QueueAnswer({{150, kAck}});
  Bytes buffer(32);
  EXPECT_EQ(Exchange(0x33, buffer, 100), 6);

  // A read still waiting when the answer comes would take it: the time-out ended it before.
  peer.QueueAnswer({{600, kAck}});
  EXPECT_EQ(Exchange(0x33, buffer, 20), kAnswerTimeOut);
  EXPECT_GE(elapsedMs, 150);
}

TEST_F(ReadAnswerTest, ThreeBytesThenSilenceIsATimeOut) {
  peer.QueueAnswer(Bytes{0x02, 0x03, 0x06});
  Bytes buffer(32);
  EXPECT_EQ(Exchange(0x33, buffer, 20), kAnswerTimeOut);
  EXPECT_GE(elapsedMs, 150);
}

TEST_F(ReadAnswerTest, ClassifiesCheckCodeInvalidCommandAndStatisticsAnswers) {
  struct Case {
    const char* what;
    uint8_t code;
    Bytes answer;
    int expected;
  } cases[] = {
      {"swapped check bytes", 0x33, {0x02, 0x03, 0x06, 0x00, 0x82, 0xC2}, kAnswerCrcError},
      {"check code tested before 0x30",
       0x33,
       {0x02, 0x03, 0x06, 0x30, 0xB3, 0x41},
       kAnswerCrcError},
      {"0x30 to Poll", 0x33, kInvalid, kAnswerInvalidCommand},
      {"0x30 to Request Statistics", 0x60, kInvalid, 6},
      {"short statistics answer", 0x60, WithCrc({0x02, 0x03, 0x07, 0x00, 0x31}),
       kAnswerBadStatistics},
      {"ten bytes are not short", 0x60, WithCrc({0x02, 0x03, 0x0A, 0, 0x31, 0, 0, 0}), 10},
  };
  for (const Case& c : cases) {
    peer.QueueAnswer(c.answer);
    Bytes buffer(32);
    EXPECT_EQ(Exchange(c.code, buffer), c.expected) << c.what;
  }
}

TEST_F(ReadAnswerTest, ReadsAnExtendedAnswerOf300Bytes) {
  Bytes answer = {0x02, 0x03, 0x00, 0x01, 0x2C};
  for (int i = 0; answer.size() < 298; ++i) answer.push_back(static_cast<uint8_t>(i));
  answer = WithCrc(answer);
  ASSERT_EQ(answer.size(), 300u);
  peer.QueueAnswer(answer);
  Bytes buffer(400);
  EXPECT_EQ(Exchange(0x60, buffer, 100), 300);
  EXPECT_TRUE(std::equal(answer.begin(), answer.end(), buffer.begin()));
}

TEST_F(ReadAnswerTest, NeverWritesPastTheBufferAndDropsTheRestOfAnOverlongAnswer) {
  Bytes longAnswer = {0x02, 0x03, 0x28};
  while (longAnswer.size() < 38) longAnswer.push_back(0x41);
  longAnswer = WithCrc(longAnswer);  // 40 bytes announced and sent
  peer.QueueAnswer(longAnswer);
  peer.QueueAnswer(kAck);

  Bytes storage(64, 0xEE);
  std::span<uint8_t> buffer(storage.data(), 16);
  EXPECT_EQ(Exchange(0x33, buffer, 100), kAnswerCrcError);
  for (size_t i = 16; i < storage.size(); ++i) ASSERT_EQ(storage[i], 0xEE) << i;

  // The next exchange reads its own answer, not the tail of the refused one.
  EXPECT_EQ(Exchange(0x33, buffer, 100), 6);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), kAck);
}

TEST_F(ReadAnswerTest, ALengthThatCanNeverBeReachedEndsTheReadAtOnce) {
  peer.QueueAnswer(Bytes{0x02, 0x03, 0x04, 0x10, 0x20, 0x30});
  Bytes buffer(32);
  EXPECT_EQ(Exchange(0x33, buffer, 300), kAnswerCrcError);  // a time-out would say so
}

TEST_F(ReadAnswerTest, WriteFrameWritesExactlyTheAnnouncedFrameAndNothingUnsafe) {
  // An extended request: its length stands in bytes 5 and 6.
  Bytes block(300, 0x5A);
  block[0] = 0x02, block[1] = 0x03, block[2] = 0x00, block[3] = 0x50, block[4] = 0x02;
  block[5] = 0x01, block[6] = 0x0C;
  EXPECT_EQ(port.WriteFrame(block), 268u);
  ASSERT_TRUE(peer.WaitForRequests(1, 5000));
  EXPECT_EQ(peer.Requests()[0].size(), 268u);

  Bytes tooLong = {0x02, 0x03, 0x09, 0x33, 0, 0};  // announces 9 in a 6-byte buffer
  Bytes tooShort = {0x02, 0x03, 0x05, 0x33, 0, 0};
  EXPECT_EQ(port.WriteFrame(tooLong), 0u);
  EXPECT_EQ(port.WriteFrame(tooShort), 0u);
  Bytes buffer(8);
  EXPECT_EQ(port.ReadAnswer(buffer, 10, 0x33), kAnswerTimeOut);
  port.ClosePort();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.WriteFrame(tooShort), 65535u);
  EXPECT_EQ(port.ReadAnswer(buffer, 10, 0x33), kAnswerTimeOut);
  EXPECT_EQ(peer.RawBytes().size(), 268u);
}

TEST(OpenPort, GivesNullForAPortThatDoesNotExist) {
  TComPort port(ZelnetFraming());
  {
    zelnet::test::PortNames ports;
    ports.Set(2, "");
    EXPECT_FALSE(port.OpenPort('2', 9600));
    EXPECT_FALSE(port.IsOpen());
  }
  // No map and no port on the (empty) machine the tests see: COM2 names nothing.
  EXPECT_EQ(ResolvePortPath("COM2"), "");
  EXPECT_EQ(ResolvePortPath("/dev/ttyUSB0"), "/dev/ttyUSB0");
}
