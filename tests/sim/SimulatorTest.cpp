// The simulated validator over its real pty: addressing, the state machine, the commands, the
// download, the records and clients that come and go.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "SimFixture.h"

using namespace bvsim::test;
using bvsim::MakeRequest;

TEST_F(SimTest, AnswersBothAddressesWithTheirOwnAndIgnoresOthers) {
  Boot();
  EXPECT_EQ(Poll(), Bytes{0x10});
  EXPECT_EQ(Ask(bvsim::kPoll, {}, 0x01), Bytes{0x10});
  EXPECT_EQ(Ask(bvsim::kReset, {}, 0x01), Bytes{0x00});
  EXPECT_EQ(Poll(), Bytes{0x13});

  // Another address, a wrong check code, an ACK: recorded, never answered.
  ASSERT_TRUE(client->Write(MakeRequest(0x05, bvsim::kPoll)));
  Bytes bad = MakeRequest(3, bvsim::kPoll);
  bad.back() ^= 0x40;
  ASSERT_TRUE(client->Write(bad));
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kAck)));
  ASSERT_TRUE(sim->WaitForFrames(7, 5s));
  EXPECT_TRUE(client->ReadFor(200ms).empty());
  const auto frames = sim->ReceivedFrames();
  ASSERT_EQ(frames.size(), 7u);
  EXPECT_EQ(frames[4].Address(), 0x05);
  EXPECT_TRUE(frames[4].crcOk);
  EXPECT_FALSE(frames[5].crcOk);
  EXPECT_EQ(frames[6].bytes, MakeRequest(3, bvsim::kAck));
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_LE(frames[i - 1].t, frames[i].t);
  EXPECT_EQ(sim->SentFrames().size(), 4u);

  // Garbage between frames is skipped.
  Bytes noisy = {0xFF, 0x13, 0x02, 0x00};
  const Bytes poll = MakeRequest(3, bvsim::kPoll);
  noisy.insert(noisy.end(), poll.begin(), poll.end());
  auto answer = client->Exchange(noisy);
  ASSERT_TRUE(answer);
  EXPECT_EQ(DataOf(*answer), Bytes{0x13});
}

TEST_F(SimTest, OneBillTravelsFromTheBezelThroughEscrowIntoTheStacker) {
  Boot();
  EXPECT_EQ(Poll(), Bytes{0x10});
  BringToIdle({0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF});
  EXPECT_EQ(Poll(), Bytes{0x14});

  ASSERT_TRUE(sim->InsertBill(2));
  EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), (Bytes{0x80, 2}));
  EXPECT_EQ(Poll(), (Bytes{0x80, 2}));  // escrow waits for the host
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kAck)));
  EXPECT_EQ(Ask(bvsim::kStack), Bytes{0x00});
  EXPECT_EQ(Poll(), Bytes{0x17});
  EXPECT_EQ(Poll(), Bytes{0x17});
  EXPECT_EQ(Poll(), (Bytes{0x81, 2}));
  EXPECT_EQ(Poll(), Bytes{0x14});

  const bvsim::Counters c = sim->GetCounters();
  EXPECT_EQ(c.inserted, 1u);
  EXPECT_EQ(c.stacked, 1u);
  const bvsim::Statistics s = sim->GetStatistics();
  EXPECT_EQ(s.samples10000[15].inserted, 1);
  EXPECT_EQ(s.samples10000[15].accepted[2], 1);  // type 2 is the third denomination
  EXPECT_EQ(s.samples500[19].accepted[2], 1);
}

TEST_F(SimTest, ReturnHoldRejectAndTheQueueAtTheBezel) {
  bvsim::Config config;
  config.holdPolls = 2;
  Boot(config);
  BringToIdle({0xFF, 0xFF, 0xFF}, {0x00, 0x00, 0x08});  // escrow for type 3 only

  ASSERT_TRUE(sim->InsertBill(3));
  EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), (Bytes{0x80, 3}));
  EXPECT_EQ(Ask(bvsim::kHold), Bytes{0x00});
  EXPECT_EQ(Poll(), Bytes{0x1A});
  EXPECT_EQ(Poll(), Bytes{0x1A});
  EXPECT_EQ(Poll(), (Bytes{0x80, 3}));
  EXPECT_EQ(Ask(bvsim::kReturn), Bytes{0x00});
  EXPECT_EQ(Poll(), Bytes{0x18});
  EXPECT_EQ(Poll(), Bytes{0x18});
  EXPECT_EQ(Poll(), (Bytes{0x82, 3}));
  EXPECT_EQ(Poll(), Bytes{0x14});

  // No escrow bit: straight into the stacker.
  ASSERT_TRUE(sim->InsertBill(5));
  EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), Bytes{0x17});
  EXPECT_EQ(Poll(), Bytes{0x17});
  EXPECT_EQ(Poll(), (Bytes{0x81, 5}));

  // A type without a table entry, an injected reason, a disabled type.
  ASSERT_TRUE(sim->InsertBill(4));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), (Bytes{0x1C, 0x65}));
  EXPECT_EQ(Poll(), (Bytes{0x1C, 0x65}));
  EXPECT_EQ(Poll(), Bytes{0x14});
  sim->RejectNextBill(bvsim::kRejectOptic);
  ASSERT_TRUE(sim->InsertBill(0));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), (Bytes{0x1C, 0x67}));
  EXPECT_EQ(Ask(bvsim::kEnableBillTypes, {0, 0, 0x01, 0, 0, 0}), Bytes{0x00});
  EXPECT_EQ(Poll(), (Bytes{0x1C, 0x67}));
  EXPECT_EQ(Poll(), Bytes{0x14});
  ASSERT_TRUE(sim->InsertBill(1));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), (Bytes{0x1C, 0x68}));

  // Disabled: a bill waits at the bezel and is taken once enabled.
  EXPECT_EQ(Ask(bvsim::kEnableBillTypes, {0, 0, 0, 0, 0, 0}), Bytes{0x00});
  EXPECT_EQ(Poll(), (Bytes{0x1C, 0x68}));
  EXPECT_EQ(Poll(), Bytes{0x19});
  EXPECT_FALSE(sim->InsertBill(24));
  ASSERT_TRUE(sim->InsertBill(0));
  EXPECT_EQ(sim->PendingBills(), 1u);
  EXPECT_EQ(Poll(), Bytes{0x19});
  EXPECT_EQ(Ask(bvsim::kEnableBillTypes, {0, 0, 0x01, 0, 0, 0}), Bytes{0x00});
  EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(sim->PendingBills(), 0u);

  const bvsim::Counters c = sim->GetCounters();
  EXPECT_EQ(c.inserted, 6u);
  EXPECT_EQ(c.returned, 1u);
  EXPECT_EQ(c.stacked, 1u);
  EXPECT_EQ(c.rejected, 3u);
  EXPECT_EQ(sim->GetStatistics().samples10000[15].unrecognized, 1);
  EXPECT_EQ(sim->GetStatistics().samples10000[15].rejectedOptical[0], 1);
}

TEST_F(SimTest, PhysicalFaultsPowerCyclesAndScriptedAnswers) {
  Boot();
  BringToIdle({0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF});
  sim->Jam(true);
  EXPECT_EQ(Poll(), Bytes{0x43});
  EXPECT_EQ(Poll(), Bytes{0x43});
  sim->Jam(false);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Poll(), Bytes{0x13});
  EXPECT_EQ(Poll(), Bytes{0x14});  // the masks were kept
  sim->Jam(true, bvsim::JamKind::Stacker);
  EXPECT_EQ(Poll(), Bytes{0x44});
  sim->Jam(false, bvsim::JamKind::Stacker);
  sim->SetCassetteOut(true);
  EXPECT_EQ(Poll(), Bytes{0x42});
  sim->SetCassetteOut(false);
  sim->SetStackerFull(true);
  EXPECT_EQ(Poll(), Bytes{0x41});
  sim->SetStackerFull(false);
  sim->SetFailure(bvsim::kFailOpticCanal);
  EXPECT_EQ(Poll(), (Bytes{0x47, 0x55}));
  sim->SetFailure(0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Poll(), Bytes{0x13});
  sim->SetBusy(1);
  EXPECT_EQ(Poll(), Bytes{0x1B});
  EXPECT_EQ(Poll(), Bytes{0x14});
  EXPECT_EQ(sim->GetCounters().jams, 2u);
  EXPECT_EQ(sim->GetStatistics().samples10000[15].opticalFailures, 1);

  // Power lost with a bill in escrow.
  sim->InsertBill(1);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), (Bytes{0x80, 1}));
  sim->PowerCycle();
  EXPECT_EQ(Poll(), Bytes{0x11});
  EXPECT_EQ(sim->EnabledMask(), (std::array<uint8_t, 3>{0, 0, 0}));
  sim->PowerCycle(bvsim::kPowerUp);
  EXPECT_EQ(Poll(), Bytes{0x10});

  // Scripted answers win over the state machine, which stands still meanwhile.
  sim->ScriptPollAnswers({{0x80, 2}, {0x47, 0x5F}});
  sim->ScriptAnswer(bvsim::kGetStatus, {1, 2, 3});
  EXPECT_EQ(Poll(), (Bytes{0x80, 2}));
  EXPECT_EQ(Poll(), (Bytes{0x47, 0x5F}));
  EXPECT_EQ(Poll(), Bytes{0x10});
  EXPECT_EQ(Ask(bvsim::kGetStatus), (Bytes{1, 2, 3}));
  EXPECT_EQ(Ask(bvsim::kGetStatus).size(), 6u);
  sim->ScriptRawAnswer(bvsim::kPoll, {0x02, 0x03, 0x06});
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kPoll)));
  EXPECT_EQ(client->ReadFor(200ms), (Bytes{0x02, 0x03, 0x06}));
}

TEST_F(SimTest, AnswersEveryCommandOfBothPrograms) {
  bvsim::Config config;
  config.assetNumber = {0, 0, 0, 0, 0, 1, 0};
  Boot(config);
  BringToIdle({0x80, 0x00, 0x01}, {0, 0, 0});
  EXPECT_EQ(Ask(bvsim::kSetSecurity, {0x00, 0x10, 0x01}), Bytes{0x00});
  EXPECT_EQ(Ask(bvsim::kGetStatus), (Bytes{0x80, 0x00, 0x01, 0x00, 0x10, 0x01}));
  EXPECT_EQ(sim->SecurityMask(), (std::array<uint8_t, 3>{0x00, 0x10, 0x01}));

  const Bytes id = Ask(bvsim::kIdentification);
  ASSERT_EQ(id.size(), 34u);
  EXPECT_EQ(std::string(id.begin(), id.begin() + 11), "ZBV-700-USA");
  EXPECT_EQ(id[11], 0);
  EXPECT_EQ(std::string(id.begin() + 15, id.begin() + 27), "K21A00004711");
  EXPECT_EQ(Bytes(id.begin() + 27, id.end()), (Bytes{0, 0, 0, 0, 0, 1, 0}));

  const Bytes table = Ask(bvsim::kGetBillTable);
  ASSERT_EQ(table.size(), 120u);
  EXPECT_EQ(Bytes(table.begin() + 10, table.begin() + 15), (Bytes{5, 'U', 'S', 'A', 1}));
  EXPECT_EQ(Bytes(table.begin() + 20, table.begin() + 25), Bytes(5, 0));

  // Barcode: setup, a coupon through escrow, the digits.
  EXPECT_EQ(Ask(bvsim::kSetupBarcode, {0x01, 6}), Bytes{0x00});
  EXPECT_EQ(sim->BarcodeLength(), 6);
  EXPECT_EQ(Ask(bvsim::kSetupBarcode, {0x01, 0}), Bytes{0x30});
  EXPECT_EQ(Ask(bvsim::kEnableBillTypes, {0x80, 0, 0, 0x80, 0, 0}), Bytes{0x00});
  ASSERT_TRUE(sim->InsertCoupon("987654321"));
  for (int i = 0; i < 2; ++i) EXPECT_EQ(Poll(), Bytes{0x15});
  EXPECT_EQ(Poll(), (Bytes{0x80, 23}));
  const Bytes code = Ask(bvsim::kExtractBarcode);
  EXPECT_EQ(std::string(code.begin(), code.end()), "987654");

  // Statistics: one extended frame of type 5 that counts the coupon.
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kRequestStatistics)));
  const auto stat = client->ReadFrame(10s);
  ASSERT_TRUE(stat);
  ASSERT_EQ(stat->size(), 4363u);
  EXPECT_TRUE(bvsim::CheckCodeOk(*stat));
  EXPECT_EQ((*stat)[2], 0x00);
  EXPECT_EQ((*stat)[3], 0x11);
  EXPECT_EQ((*stat)[4], 0x0B);
  EXPECT_EQ((*stat)[8], 7);  // denominations: the seven non-empty bill types
  EXPECT_EQ((*stat)[9], 5);
  EXPECT_EQ((*stat)[37 + 179 * 15], 1);  // current sample: one bill inserted
  EXPECT_EQ(*stat, bvsim::EncodeStatisticsFrame(sim->GetStatistics(), 3));

  // CRC32, an unknown code, ACK.
  const Bytes crc = Ask(bvsim::kCrc32);
  ASSERT_EQ(crc.size(), 4u);
  EXPECT_EQ(uint32_t(crc[0]) << 24 | crc[1] << 16 | crc[2] << 8 | crc[3], sim->FirmwareCrc32());
  EXPECT_EQ(sim->FirmwareCrc32(), bvsim::Crc32(Bytes(128 * 1024, 0xFF)));
  EXPECT_EQ(Ask(0x62), Bytes{0x30});
  EXPECT_EQ(Ask(0x7F), Bytes{0x30});
}

TEST(BvsimStatistics, SeededCountersAreReportedAtTheirOffsets) {
  bvsim::Statistics seed;
  seed.denominations = 3;
  seed.currencyName = "Euro. Europe";
  seed.samples10000[0].inserted = 0x1234;
  seed.samples10000[2].accepted[1] = 0xBEEF;
  seed.samples10000[15].jamsExit = 200;
  seed.samples500[3].rejectedVerification[4] = 9;
  seed.samples50[7] = 42;
  seed.denominationTable[0] = {0x45, 'E', 'U', 'R', 2};
  const Bytes f = bvsim::EncodeStatisticsFrame(seed, 1);
  ASSERT_EQ(f.size(), 4363u);
  EXPECT_EQ(f[1], 1);
  EXPECT_EQ(f[37], 0x34);
  EXPECT_EQ(f[38], 0x12);
  EXPECT_EQ(f[37 + 179 * 2 + 2 + 2], 0xEF);
  EXPECT_EQ(f[37 + 179 * 2 + 2 + 3], 0xBE);
  EXPECT_EQ(f[37 + 179 * 15 + 178], 200);
  EXPECT_EQ(f[2901 + 66 * 3 + 40 + 4], 9);
  EXPECT_EQ(f[4221 + 7], 42);
  EXPECT_EQ(Bytes(f.begin() + 4241, f.begin() + 4246), (Bytes{0x45, 'E', 'U', 'R', 2}));
  EXPECT_EQ(std::string(f.begin() + 4341, f.begin() + 4353), "Euro. Europe");
  EXPECT_TRUE(bvsim::CheckCodeOk(f));

  bvsim::Config config;
  config.statistics = seed;
  bvsim::Simulator sim(config);
  EXPECT_EQ(bvsim::EncodeStatisticsFrame(sim.GetStatistics(), 1), f);
}

TEST_F(SimTest, DownloadStoresEveryBlockByteExact) {
  Boot();
  std::mt19937 rng(7);
  Bytes image(128 * 1024, 0xFF);
  for (size_t i = 0; i < 0x6000; ++i) image[i] = uint8_t(rng());
  for (size_t i = 0x1FF00; i < 0x20000; ++i) image[i] = uint8_t(rng());

  // A block before DownloadStart is refused.
  auto early = client->Exchange(bvsim::MakeBlockRequest(3, 0, Bytes(256, 0)));
  ASSERT_TRUE(early);
  EXPECT_EQ(DataOf(*early), Bytes{0x30});

  EXPECT_EQ(Ask(bvsim::kDownload), Bytes{0x00});
  EXPECT_EQ(Ask(bvsim::kDownload, {bvsim::kDownloadStart}), Bytes{0x00});
  EXPECT_TRUE(sim->InDownloadMode());
  EXPECT_EQ(Ask(bvsim::kDownload, {bvsim::kDownloadQueryBlockSize}), Bytes{8});
  for (uint32_t a = 0; a < image.size(); a += 256) {
    const Bytes block(image.begin() + a, image.begin() + a + 256);
    if (std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0xFF; })) continue;
    auto answer = client->Exchange(bvsim::MakeBlockRequest(3, a, block));
    ASSERT_TRUE(answer);
    ASSERT_EQ(DataOf(*answer), Bytes{0xE0}) << a;
  }
  // Beyond the memory: refused and not stored.
  auto beyond = client->Exchange(bvsim::MakeBlockRequest(3, 0x1FF80, Bytes(256, 0)));
  ASSERT_TRUE(beyond);
  EXPECT_EQ(DataOf(*beyond), Bytes{0x30});
  EXPECT_EQ(Ask(bvsim::kDownload, {bvsim::kDownloadFinish}), Bytes{0xE0});
  EXPECT_FALSE(sim->InDownloadMode());
  EXPECT_EQ(Poll(), Bytes{0x10});  // the new firmware starts up

  EXPECT_EQ(sim->Firmware(), image);
  EXPECT_EQ(sim->FirmwareCrc32(), bvsim::Crc32(image));
  const Bytes crc = Ask(bvsim::kCrc32);
  ASSERT_EQ(crc.size(), 4u);
  EXPECT_EQ(uint32_t(crc[0]) << 24 | crc[1] << 16 | crc[2] << 8 | crc[3], bvsim::Crc32(image));
  EXPECT_EQ(sim->GetCounters().blocksWritten, 97u);
}

TEST_F(SimTest, UpdaterSequenceOnAddressOneWithAConfiguredBlockSize) {
  bvsim::Config config;
  config.blockPower = 9;
  config.firmwareSize = 0x80000;
  Boot(config);
  EXPECT_EQ(Ask(bvsim::kPoll, {}, 1), Bytes{0x10});
  ASSERT_TRUE(client->Write(MakeRequest(1, bvsim::kAck)));
  EXPECT_EQ(Ask(bvsim::kReset, {}, 1), Bytes{0x00});
  EXPECT_EQ(Ask(bvsim::kPoll, {}, 1), Bytes{0x13});
  EXPECT_EQ(Ask(bvsim::kEnableBillTypes, Bytes(6, 0), 1), Bytes{0x00});
  EXPECT_EQ(Ask(bvsim::kDownload, {}, 1), Bytes{0x00});
  EXPECT_EQ(Ask(bvsim::kDownload, {0x00}, 1), Bytes{0x00});
  EXPECT_EQ(Ask(bvsim::kDownload, {0x01}, 1), Bytes{9});
  Bytes block(256);
  for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 7);
  const Bytes frame = bvsim::MakeBlockRequest(1, 0x7FF00, block);
  ASSERT_EQ(frame.size(), 268u);
  auto answer = client->Exchange(frame);
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, bvsim::MakeAnswer(1, {0xE0}));
  EXPECT_EQ(Ask(bvsim::kDownload, {0x03}, 1), Bytes{0xE0});
  const Bytes fw = sim->Firmware();
  EXPECT_EQ(Bytes(fw.begin() + 0x7FF00, fw.end()), block);
}

TEST_F(SimTest, AfterAnUpdateTheUnitRestartsSilentThenComesBackInPowerUp) {
  bvsim::Config config;
  config.restartAfterUpdateMs = 700;
  Boot(config);
  ASSERT_EQ(Ask(bvsim::kReset), Bytes{0x00});  // the restart comes from the update only
  EXPECT_EQ(Poll(), Bytes{0x13});
  EXPECT_EQ(Ask(bvsim::kDownload, {bvsim::kDownloadStart}), Bytes{0x00});
  const auto finished = std::chrono::steady_clock::now();
  EXPECT_EQ(Ask(bvsim::kDownload, {bvsim::kDownloadFinish}), Bytes{0xE0});  // still answered
  sim->ClearSent();
  // Polled until it answers again: the first answer is power-up, and it comes no sooner than
  // the restart; the polls before it were received and left unanswered.
  Bytes back;
  int polls = 0;
  for (; back.empty() && polls < 100; ++polls) back = Poll();
  EXPECT_EQ(back, Bytes{0x10});
  EXPECT_GE(std::chrono::steady_clock::now() - finished, 700ms);
  EXPECT_GT(polls, 1);
  EXPECT_EQ(sim->SentFrames().size(), 1u);
  EXPECT_EQ(Ask(bvsim::kIdentification).size(), 34u);
}

TEST_F(SimTest, ClientsMayCloseAndReopenWithoutStaleAnswers) {
  bvsim::Fault late;
  late.kind = bvsim::Fault::Late;
  late.command = bvsim::kGetStatus;
  late.delayMs = 300;
  Boot();
  sim->InjectFault(late);
  for (int i = 0; i < 5; ++i) {
    client = std::make_unique<zelnet::test::PtyPeer>(sim->SlavePath());
    ASSERT_TRUE(client->Ok());
    EXPECT_EQ(Poll(), Bytes{0x10});
  }
  // A client that gives up before a late answer: the next one does not read it.
  ASSERT_TRUE(client->Write(MakeRequest(3, bvsim::kGetStatus)));
  ASSERT_TRUE(sim->WaitForCommand(bvsim::kGetStatus, 5s));
  client->Close();
  std::this_thread::sleep_for(500ms);  // the late answer would be due now
  client = std::make_unique<zelnet::test::PtyPeer>(sim->SlavePath());
  EXPECT_EQ(Poll(), Bytes{0x10});
  EXPECT_TRUE(sim->Running());
}

TEST_F(SimTest, PacedAnswersTakeTheLineTimeOfBothFrames) {
  bvsim::Config config;
  config.baud = 9600;
  Boot(config);
  // Get Bill Table: 6 + 125 bytes at 9600 baud is about 136 ms.
  const auto start = std::chrono::steady_clock::now();
  const Bytes table = Ask(bvsim::kGetBillTable);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(table.size(), 120u);
  EXPECT_GE(elapsed, 130ms);
  const auto sent = sim->SentFrames();
  const auto got = sim->ReceivedFrames();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_GE(sent[0].first - got[0].first, 136ms);
}
