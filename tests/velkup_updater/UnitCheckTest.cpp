// Identifying a unit and seeing it come back after an update, over TCommDrv and bvsim on a pty:
// the decoding of every field, answers that are short, damaged, from another address or
// missing, and the come-back check against a unit that restarts, and one that never does.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "Frames.h"
#include "SimOnPort.h"
#include "SimSupport.h"
#include "UnitCheck.h"

using namespace velkup;
using namespace velkup::test;

namespace {

TEST(Identification, FieldsAreTextUpToTheirFirstZeroAndASevenByteNumber) {
  Bytes data(34, 0);
  const std::string part = "ZBV-700-USA", serial = "K21A00004711";
  std::copy(part.begin(), part.end(), data.begin());
  std::copy(serial.begin(), serial.end(), data.begin() + 15);
  data[32] = 0x01;  // asset 00 00 00 00 00 01 00
  auto id = DecodeIdentification(data.data(), data.size());
  ASSERT_TRUE(id);
  EXPECT_EQ(*id, (TUnitIdentity{"ZBV-700-USA", "K21A00004711", 256}));

  // Full fields without a zero end at their width; all seven asset bytes 0xFF; a zero inside a
  // field ends its text; control characters cannot break a line of a table.
  std::fill(data.begin(), data.begin() + 15, 'P');
  std::fill(data.begin() + 15, data.begin() + 27, 'S');
  std::fill(data.begin() + 27, data.end(), 0xFF);
  data[3] = '\n';
  data[20] = 0;
  id = DecodeIdentification(data.data(), data.size());
  ASSERT_TRUE(id);
  EXPECT_EQ(id->partNumber, "PPP?PPPPPPPPPPP");
  EXPECT_EQ(id->serialNumber, "SSSSS");
  EXPECT_EQ(id->assetNumber, 72057594037927935u);

  EXPECT_FALSE(DecodeIdentification(data.data(), 33));
}

struct Probe : ::testing::Test {
  std::unique_ptr<zelnet::test::SimOnPort> port;
  QObject owner;
  TCommDrv* drv = new TCommDrv(&owner);

  void Boot(bvsim::Config config = VelkupValidator()) {
    port = std::make_unique<zelnet::test::SimOnPort>(std::move(config), std::vector<int>{6});
    ASSERT_TRUE(port->Started());
    drv->SetPortName("COM6");
    drv->SetBaudRateValue(19200);
  }
  bvsim::Simulator& Sim() { return port->sim; }
  void Fault(bvsim::Fault::Kind kind, int bytes = 0) {
    bvsim::Fault f;
    f.kind = kind;
    f.command = 0x37;
    f.bytes = bytes;
    Sim().InjectFault(f);
  }
};

TEST_F(Probe, IdentifiesByTheFamilysAddressAndRefusesEveryAnswerThatIsNotWhole) {
  bvsim::Config c = VelkupValidator();
  c.serialNumber = "SN-0001";
  c.partNumber = "ZBV-7";
  c.assetNumber = {0, 0, 0, 0, 0, 0x30, 0x39};
  Boot(c);
  TUnitProbe qa(*drv, 0x01);
  auto id = qa.Identify();
  ASSERT_TRUE(id);
  EXPECT_EQ(*id, (TUnitIdentity{"ZBV-7", "SN-0001", 12345}));
  EXPECT_EQ(Sim().ReceivedFrames().back().bytes, (Bytes{0x02, 0x01, 0x06, 0x37, 0x46, 0x72}));

  // Short data, a damaged check code, a frame cut short, no answer: "not identified", and the
  // line is good for the next exchange each time.
  for (auto [kind, bytes] :
       {std::pair{bvsim::Fault::ShortData, 20}, std::pair{bvsim::Fault::BadCrc, 0},
        std::pair{bvsim::Fault::Truncate, 30}, std::pair{bvsim::Fault::Silent, 0}}) {
    SCOPED_TRACE(kind);
    Fault(kind, bytes);
    EXPECT_FALSE(qa.Identify());
    Sim().ClearFaults();
    EXPECT_EQ(qa.Identify(), id);
  }
  // A unit that answers another family only.
  TUnitProbe other(*drv, 0x02);
  EXPECT_FALSE(other.Identify());
  EXPECT_EQ(qa.Poll(), std::optional<uint8_t>(0x10));
  // The Poll answer was acknowledged.
  ASSERT_TRUE(Sim().WaitForCommand(0x00, std::chrono::seconds(5)));
}

TEST_F(Probe, AUnitThatRestartsAfterItsUpdateIsSeenAgainAndIdentified) {
  bvsim::Config c = VelkupValidator();
  c.restartAfterUpdateMs = 1200;
  Boot(c);
  TUnitProbe probe(*drv, 0x03);
  ASSERT_TRUE(probe.Open());
  // The end of an update: DownloadStart, then DownloadFinish, whose answer starts the restart.
  for (uint8_t sub : {0x00, 0x03}) {
    ASSERT_TRUE(drv->Connected());
    const uint8_t payload[2] = {0x50, sub};
    uint8_t frame[7];
    drv->SendData(frame, static_cast<uint32_t>(BuildFrame(0x03, payload, 2, frame)));
    uint8_t answer[6];
    ASSERT_EQ(drv->ReadData(answer, 6), 6u);
    EXPECT_EQ(answer[3], sub == 0 ? 0x00 : 0xE0);
  }
  QElapsedTimer t;
  t.start();
  const auto back = probe.WaitForComeBack(30000, [] { return false; });
  ASSERT_TRUE(back.back);
  EXPECT_GE(t.elapsed(), 1200);
  EXPECT_GE(back.seconds, 1.0);
  EXPECT_EQ(back.status, 0x10);
  ASSERT_TRUE(back.identity);
  EXPECT_EQ(back.identity->serialNumber, "K21A00004711");
  // Polled every 500 ms meanwhile: the unanswered polls before the answer are all there.
  size_t polls = 0;
  for (const auto& f : Sim().ReceivedFrames()) polls += f.Command() == 0x33;
  EXPECT_GE(polls, 3u);
}

TEST_F(Probe, AUnitThatNeverAnswersAgainIsGivenUpAfterTheTimeOutOrAStop) {
  Boot();
  Sim().SetSilent(true);
  TUnitProbe probe(*drv, 0x03);
  QElapsedTimer t;
  t.start();
  auto back = probe.WaitForComeBack(1500, [] { return false; });
  EXPECT_FALSE(back.back);
  EXPECT_GE(t.elapsed(), 1500);
  EXPECT_FALSE(back.identity);

  // A stop ends the wait before its time-out.
  int asked = 0;
  back = probe.WaitForComeBack(3600 * 1000, [&] { return ++asked > 2; });
  EXPECT_FALSE(back.back);
  EXPECT_EQ(asked, 3);
}

}  // namespace
