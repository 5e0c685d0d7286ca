// The kit's pty peer in both of its roles at once: the far end of a line it made, and a plain
// client of that line, as the simulator's tests use it.
#include <gtest/gtest.h>

#include "PtyPeer.h"

using namespace std::chrono_literals;
using zelnet::test::Bytes;
using zelnet::test::PtyPeer;
using zelnet::test::WithCrc;

TEST(PtyPeer, AnswersRequestsButNotAcksAndItsCloseIsAHangUpAtTheOtherEnd) {
  PtyPeer device;
  PtyPeer client(device.SlavePath());
  ASSERT_TRUE(client.Ok());

  const Bytes poll = WithCrc({0x02, 0x03, 0x06, 0x33});
  const Bytes ack = WithCrc({0x02, 0x03, 0x06, 0x00});
  const Bytes idling = WithCrc({0x02, 0x03, 0x06, 0x14});
  device.QueueAnswer(idling);
  EXPECT_EQ(client.Exchange(poll), idling);
  // An ACK is recorded but never answered, and the queue is kept for the next request.
  device.QueueAnswer(idling);
  ASSERT_TRUE(client.Write(ack));
  EXPECT_EQ(client.ReadFor(200ms), Bytes{});
  EXPECT_EQ(client.Exchange(poll), idling);
  ASSERT_TRUE(device.WaitForRequests(3, 2000));
  EXPECT_EQ(device.Requests(), (std::vector<Bytes>{poll, ack, poll}));

  // Every byte the client sent reaches the device's plain reads too, framed or not; the device's
  // writes reach the client.
  ASSERT_TRUE(client.Write({0x55, 0xAA}));
  Bytes sent = poll;
  sent.insert(sent.end(), ack.begin(), ack.end());
  sent.insert(sent.end(), poll.begin(), poll.end());
  sent.insert(sent.end(), {0x55, 0xAA});
  EXPECT_EQ(device.Read(sent.size(), 2000ms), sent);
  ASSERT_TRUE(device.Write({1, 2, 3}));
  EXPECT_EQ(client.ReadFor(200ms), (Bytes{1, 2, 3}));

  EXPECT_FALSE(client.HungUp());
  device.Close();
  EXPECT_EQ(client.ReadFrame(1000ms), std::nullopt);
  EXPECT_TRUE(client.HungUp());
  EXPECT_FALSE(device.Write({1}));
}
