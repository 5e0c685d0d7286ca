// Shared set-up of the simulator tests: a simulator on its pty and a raw POSIX client.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "PtyPeer.h"
#include "bvsim.h"

namespace bvsim::test {

using zelnet::test::Bytes;
using namespace std::chrono_literals;

// The data bytes of a short answer frame (between the length byte and the check code).
inline Bytes DataOf(const Bytes& frame) {
  if (frame.size() < 6) return {};
  return Bytes(frame.begin() + 3, frame.end() - 2);
}

class SimTest : public ::testing::Test {
 protected:
  void Boot(bvsim::Config config = {}) {
    sim = std::make_unique<bvsim::Simulator>(std::move(config));
    ASSERT_TRUE(sim->Start()) << sim->LastError();
    client = std::make_unique<zelnet::test::PtyPeer>(sim->SlavePath());
    ASSERT_TRUE(client->Ok());
  }

  // Sends a request to address 3 and returns the answer's data bytes ({} when none came).
  Bytes Ask(uint8_t command, const Bytes& data = {}, uint8_t address = 3) {
    auto answer = client->Exchange(bvsim::MakeRequest(address, command, data));
    if (!answer) return {};
    EXPECT_TRUE(bvsim::CheckCodeOk(*answer));
    EXPECT_EQ((*answer)[1], address);
    return DataOf(*answer);
  }
  Bytes Poll() { return Ask(bvsim::kPoll); }

  // Reset, initialisation and Enable Bill Types: the unit idles.
  void BringToIdle(const Bytes& enable = {0xFF, 0xFF, 0xFF}, const Bytes& escrow = {0, 0, 0}) {
    ASSERT_EQ(Ask(bvsim::kReset), Bytes{0x00});
    for (int i = 0; i < sim->GetConfig().initPolls; ++i) ASSERT_EQ(Poll(), Bytes{0x13});
    ASSERT_EQ(Poll(), Bytes{0x19});
    Bytes mask = enable;
    mask.insert(mask.end(), escrow.begin(), escrow.end());
    ASSERT_EQ(Ask(bvsim::kEnableBillTypes, mask), Bytes{0x00});
    ASSERT_EQ(Poll(), Bytes{0x14});
  }

  std::unique_ptr<bvsim::Simulator> sim;
  std::unique_ptr<zelnet::test::PtyPeer> client;
};

}  // namespace bvsim::test
