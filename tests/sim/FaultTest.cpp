// Each fault switch of the simulator does what it says, on the real pty.
#include <gtest/gtest.h>

#include "SimFixture.h"

using namespace bvsim::test;
using bvsim::Fault;
using bvsim::MakeRequest;
using Clock = std::chrono::steady_clock;

namespace {

Fault Make(Fault::Kind kind, int command = bvsim::kAny, int count = 1) {
  Fault f;
  f.kind = kind;
  f.command = command;
  f.count = count;
  return f;
}

}  // namespace

TEST_F(SimTest, SilenceLatenessAndDrippingDelayOrSuppressAnswers) {
  Boot();
  // Silent for the second Poll only (skip 1, count 1); other codes untouched.
  Fault silent = Make(Fault::Silent, bvsim::kPoll);
  silent.skip = 1;
  sim->InjectFault(silent);
  EXPECT_EQ(Poll(), Bytes{0x10});
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kPoll)));
  EXPECT_FALSE(client->ReadFrame(300ms));
  EXPECT_EQ(Ask(bvsim::kGetStatus).size(), 6u);
  EXPECT_EQ(Poll(), Bytes{0x10});

  sim->SetSilent(true);
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kReset)));
  EXPECT_FALSE(client->ReadFrame(300ms));
  sim->SetSilent(false);
  EXPECT_EQ(Poll(), Bytes{0x10});  // the unheard Reset had no effect

  Fault late = Make(Fault::Late, bvsim::kPoll);
  late.delayMs = 400;
  sim->InjectFault(late);
  auto start = Clock::now();
  EXPECT_EQ(Poll(), Bytes{0x10});
  EXPECT_GE(Clock::now() - start, 400ms);

  Fault drip = Make(Fault::Drip, bvsim::kGetStatus);
  drip.delayMs = 40;
  sim->InjectFault(drip);
  start = Clock::now();
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kGetStatus)));
  const Bytes first = client->ReadFor(15ms, 1s);  // the first bytes, before the gap
  EXPECT_GE(first.size(), 1u);
  EXPECT_LT(first.size(), 11u);
  auto rest = client->ReadFor(300ms);
  Bytes all = first;
  all.insert(all.end(), rest.begin(), rest.end());
  EXPECT_EQ(all.size(), 11u);
  EXPECT_TRUE(bvsim::CheckCodeOk(all));
  EXPECT_GE(Clock::now() - start, 400ms);  // ten gaps of 40 ms
}

TEST_F(SimTest, DamagedAnswersAreDamagedExactlyAsAsked) {
  Boot();
  const Bytes good = bvsim::MakeAnswer(3, {0x10});

  sim->InjectFault(Make(Fault::BadCrc, bvsim::kPoll));
  auto a = client->Exchange(MakeRequest(3, bvsim::kPoll));
  ASSERT_TRUE(a);
  EXPECT_FALSE(bvsim::CheckCodeOk(*a));
  EXPECT_EQ(Bytes(a->begin(), a->end() - 2), Bytes(good.begin(), good.end() - 2));

  sim->InjectFault(Make(Fault::SwapCrc, bvsim::kPoll));
  a = client->Exchange(MakeRequest(3, bvsim::kPoll));
  ASSERT_TRUE(a);
  Bytes swapped = good;
  std::swap(swapped[4], swapped[5]);
  EXPECT_EQ(*a, swapped);

  sim->InjectFault(Make(Fault::Invalid, bvsim::kReset));
  EXPECT_EQ(Ask(bvsim::kReset), Bytes{0x30});
  EXPECT_EQ(Poll(), Bytes{0x10});  // refused, so not executed

  Fault truncate = Make(Fault::Truncate, bvsim::kPoll);
  truncate.bytes = 4;
  sim->InjectFault(truncate);
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kPoll)));
  EXPECT_EQ(client->ReadFor(200ms), Bytes(good.begin(), good.begin() + 4));

  Fault wrong = Make(Fault::WrongLength, bvsim::kPoll);
  wrong.bytes = 9;
  sim->InjectFault(wrong);
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kPoll)));
  const Bytes w = client->ReadFor(200ms);
  ASSERT_EQ(w.size(), 6u);
  EXPECT_EQ(w[2], 9);
  EXPECT_EQ(w[3], 0x10);

  Fault over = Make(Fault::OverLength, bvsim::kPoll);  // 65535 bytes in all
  sim->InjectFault(over);
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kPoll)));
  const auto big = client->ReadFrame(10s);
  ASSERT_TRUE(big);
  EXPECT_EQ(big->size(), 65535u);
  EXPECT_EQ((*big)[2], 0);
  EXPECT_EQ((*big)[3], 0xFF);
  EXPECT_EQ((*big)[5], 0x10);
  EXPECT_TRUE(bvsim::CheckCodeOk(*big));

  Fault shortId = Make(Fault::ShortData, bvsim::kIdentification);
  shortId.bytes = 10;
  sim->InjectFault(shortId);
  EXPECT_EQ(Ask(bvsim::kIdentification).size(), 10u);
  Fault shortTable = Make(Fault::ShortData, bvsim::kGetBillTable, bvsim::kForever);
  shortTable.bytes = 50;
  sim->InjectFault(shortTable);
  EXPECT_EQ(Ask(bvsim::kGetBillTable).size(), 50u);
  EXPECT_EQ(Ask(bvsim::kGetBillTable).size(), 50u);
  sim->ClearFaults();
  EXPECT_EQ(Ask(bvsim::kGetBillTable).size(), 120u);
  EXPECT_EQ(Ask(bvsim::kIdentification).size(), 34u);
}

TEST_F(SimTest, DownloadBlocksAreRefusedByIndexOrAddressAsOftenAsAsked) {
  Boot();
  EXPECT_EQ(Ask(bvsim::kDownload, {bvsim::kDownloadStart}), Bytes{0x00});
  Fault refuse = Make(Fault::Refuse, bvsim::kDownload, 3);
  refuse.blockIndex = 2;
  refuse.code = 0x31;
  sim->InjectFault(refuse);
  Fault byAddress = Make(Fault::Refuse, bvsim::kDownload, 1);
  byAddress.blockAddress = 0x500;
  byAddress.code = 0xE1;
  sim->InjectFault(byAddress);

  auto send = [&](uint32_t address, uint8_t fill) {
    auto a = client->Exchange(bvsim::MakeBlockRequest(3, address, Bytes(256, fill)));
    return a ? DataOf(*a) : Bytes{};
  };
  EXPECT_EQ(send(0x000, 1), Bytes{0xE0});
  EXPECT_EQ(send(0x100, 2), Bytes{0xE0});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(send(0x200, 3), Bytes{0x31});
  EXPECT_EQ(sim->Firmware()[0x200], 0xFF);  // a refused block is not stored
  EXPECT_EQ(send(0x200, 3), Bytes{0xE0});   // the fourth attempt goes through
  EXPECT_EQ(sim->Firmware()[0x200], 3);
  EXPECT_EQ(send(0x500, 5), Bytes{0xE1});
  EXPECT_EQ(send(0x500, 5), Bytes{0xE0});
}

TEST_F(SimTest, DroppingTheLineHangsUpTheClientAndStartServesAgain) {
  Boot();
  Fault drop = Make(Fault::DropLine, bvsim::kDownload);
  drop.blockIndex = 1;
  sim->InjectFault(drop);
  EXPECT_EQ(Ask(bvsim::kDownload, {bvsim::kDownloadStart}), Bytes{0x00});
  auto a = client->Exchange(bvsim::MakeBlockRequest(3, 0, Bytes(256, 7)));
  ASSERT_TRUE(a);
  EXPECT_EQ(DataOf(*a), Bytes{0xE0});
  ASSERT_TRUE(client->Write(bvsim::MakeBlockRequest(3, 0x100, Bytes(256, 8))));
  EXPECT_FALSE(client->ReadFrame(3s));
  EXPECT_TRUE(client->HungUp());
  EXPECT_TRUE(sim->LineDropped());
  EXPECT_FALSE(sim->Running());
  EXPECT_EQ(sim->Firmware()[0x100], 0xFF);

  // A new line on a new pty; the validator kept its memory.
  const std::string old = sim->SlavePath();
  ASSERT_TRUE(sim->Start());
  EXPECT_FALSE(sim->LineDropped());
  client = std::make_unique<zelnet::test::PtyPeer>(sim->SlavePath());
  ASSERT_TRUE(client->Ok());
  EXPECT_EQ(Poll(), Bytes{0x10});
  EXPECT_EQ(sim->Firmware()[0], 7);
}
