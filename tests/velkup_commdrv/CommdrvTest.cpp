// TCommDrv against a real pseudo-terminal: the test holds the far end of the line.
#include <gtest/gtest.h>
#include <termios.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <numeric>

#include "Commdrv.h"
#include "PortNames.h"
#include "PtyPeer.h"

using namespace velkup;

using namespace std::chrono_literals;
using zelnet::test::PtyPeer;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
  return {v.begin(), v.end()};
}

// A component attached to a fresh pty through the name COM7. The far end is a raw peer: these
// tests need bytes at chosen moments and a reader that stops, which no validator does.
struct CommdrvOnPty : ::testing::Test {
  PtyPeer peer;
  zelnet::test::PortNames names;
  QObject owner;
  TCommDrv* drv = new TCommDrv(&owner);
  int ticks = 0;  // of the component's polling timer

  void SetUp() override {
    names.Set(7, peer.SlavePath());
    drv->SetPortB(pnCOM7);
    QTimer* timer = drv->findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    QObject::connect(timer, &QTimer::timeout, [this] { ++ticks; });
  }
  void Open() { ASSERT_TRUE(drv->Connect()); }
  // Lets the polling timer tick n more times.
  void WaitTicks(int n) {
    const int until = ticks + n;
    ASSERT_TRUE(QTest::qWaitFor([&] { return ticks >= until; }, 10000));
  }
};

}  // namespace

TEST(Commdrv, NewComponentHoldsItsConstructorValuesAndDiesWithItsOwner) {
  auto* owner = new QObject;
  QPointer<TCommDrv> drv = new TCommDrv(owner);
  EXPECT_EQ(drv->parent(), owner);
  EXPECT_EQ(drv->Port(), pnCOM1);
  EXPECT_EQ(drv->PortName(), "COM1");
  EXPECT_EQ(drv->BaudRate(), br57600);
  EXPECT_EQ(drv->Baud(), 57600u);
  EXPECT_EQ(drv->DataBits(), db8BITS);
  EXPECT_EQ(drv->StopBits(), sb1BITS);
  EXPECT_EQ(drv->Parity(), ptNONE);
  EXPECT_EQ(drv->InBufSize(), 2048u);
  EXPECT_EQ(drv->OutBufSize(), 2048u);
  EXPECT_EQ(drv->PollingDelay(), 5000);
  EXPECT_EQ(drv->OutputTimeout, 5000);
  EXPECT_EQ(drv->InputTimeout, 5000u);
  EXPECT_FALSE(drv->RTS());
  EXPECT_FALSE(drv->DTR());
  EXPECT_FALSE(drv->OnReceiveData);
  EXPECT_FALSE(drv->Connected());
  EXPECT_TRUE(drv->IsPolling());
  // The published properties are reachable through Qt's property system too.
  EXPECT_EQ(drv->property("PortName").toString(), "COM1");
  EXPECT_EQ(drv->property("Baud").toUInt(), 57600u);
  delete owner;
  EXPECT_TRUE(drv.isNull());
}

TEST(Commdrv, SettersClampAndKeepTheirRulesWhileClosed) {
  TCommDrv drv(nullptr);
  drv.SetPollingDelay(0);
  EXPECT_EQ(drv.PollingDelay(), 5);
  drv.SetPollingDelay(500);
  EXPECT_EQ(drv.PollingDelay(), 500);
  drv.SetInBufSize(100000);
  EXPECT_EQ(drv.InBufSize(), 8192u);
  drv.SetInBufSize(10);
  EXPECT_EQ(drv.InBufSize(), 128u);
  drv.SetOutBufSize(100000);
  EXPECT_EQ(drv.OutBufSize(), 8192u);
  drv.SetOutBufSize(0);
  EXPECT_EQ(drv.OutBufSize(), 128u);

  drv.SetPortB(pnCOM3);
  EXPECT_EQ(drv.PortName(), "COM3");
  drv.SetPortName("/dev/ttyUSB0");
  EXPECT_EQ(drv.Port(), pnCustom);
  drv.SetPortB(pnCustom);
  EXPECT_EQ(drv.PortName(), "/dev/ttyUSB0");
  drv.SetPortB(pnCOM8);
  EXPECT_EQ(drv.PortName(), "COM8");

  drv.SetBaudRateValue(19200);
  EXPECT_EQ(drv.BaudRate(), brCustom);
  EXPECT_EQ(drv.Baud(), 19200u);
  drv.SetBaudRate(brCustom);
  EXPECT_EQ(drv.Baud(), 19200u);
  drv.SetBaudRate(br9600);
  EXPECT_EQ(drv.Baud(), 9600u);

  const uint32_t rates[] = {0, 9600, 14400, 19200, 28800, 38400, 57600, 115200};
  for (int r = brCustom; r <= br115200; ++r)
    EXPECT_EQ(BaudRateOf(static_cast<TBaudRate>(r)), rates[r]);

  // Line settings outside their tables change nothing.
  drv.SetParity(ptEVEN);
  drv.SetParity(static_cast<TParity>(ptSPACE + 1));
  EXPECT_EQ(drv.Parity(), ptEVEN);
  drv.SetStopBits(sb2BITS);
  drv.SetStopBits(static_cast<TStopBits>(-1));
  EXPECT_EQ(drv.StopBits(), sb2BITS);
  drv.SetDataBits(db7BITS);
  drv.SetDataBits(static_cast<TDataBits>(db8BITS + 1));
  EXPECT_EQ(drv.DataBits(), db7BITS);

  drv.PausePolling();
  drv.PausePolling();
  drv.ContinuePolling();
  EXPECT_FALSE(drv.IsPolling());
  drv.ContinuePolling();
  EXPECT_TRUE(drv.IsPolling());
}

TEST(Commdrv, ClosedComponentTransfersNothing) {
  TCommDrv drv(nullptr);
  drv.SetPortName("/nonexistent/port");
  EXPECT_FALSE(drv.Connect());
  EXPECT_FALSE(drv.Connected());
  EXPECT_EQ(drv.CountRX(), 0xFFFFu);
  EXPECT_EQ(drv.OutFreeSpace(), 0xFFFF);
  uint8_t buf[6] = {};
  EXPECT_EQ(drv.SendData(buf, 6), 0u);
  EXPECT_EQ(drv.ReadData(buf, 6), 0u);
  EXPECT_FALSE(drv.SendByte(1));
  EXPECT_FALSE(drv.ReadByte(buf[0]));
  EXPECT_TRUE(drv.GetLineStatus().Empty());
  EXPECT_FALSE(drv.FlushBuffers(true, true));
  EXPECT_FALSE(drv.ApplyCOMSettings());
  EXPECT_EQ(drv.Handle(), -1);
}

TEST(Commdrv, ComNamesResolveThroughTheEnvironment) {
  qunsetenv("ZELNET_COM2");
  // No map and no port on the (empty) machine the tests see.
  EXPECT_EQ(ResolvePortName("COM2"), "");
  EXPECT_EQ(ResolvePortName("COM1"), "");
  {
    zelnet::test::PortNames names;
    names.Set(2, "/dev/pts/42");
    EXPECT_EQ(ResolvePortName("COM2"), "/dev/pts/42");
  }
  EXPECT_EQ(ResolvePortName("COM2"), "");
  EXPECT_EQ(ResolvePortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ResolvePortName("COM0"), "COM0");
  EXPECT_EQ(ResolvePortName("COMX"), "COMX");
}

TEST_F(CommdrvOnPty, ConnectAppliesTheLineDespiteThePtyHavingNoModemLines) {
  drv->ToggleRTS(true);  // a pty refuses RTS and DTR; neither may fail the connection
  drv->ToggleDTR(true);
  drv->SetBaudRate(br19200);
  Open();
  EXPECT_TRUE(drv->Connected());
  EXPECT_GE(drv->Handle(), 0);
  EXPECT_TRUE(drv->ApplyCOMSettings());
  termios t{};
  ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B19200);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_FALSE(t.c_cflag & PARENB);
  EXPECT_FALSE(t.c_cflag & CSTOPB);
  // Line settings follow the setters at once while open.
  drv->SetBaudRate(br9600);
  ASSERT_EQ(::tcgetattr(peer.SlaveFd(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B9600);
  drv->ToggleRTS(false);
  EXPECT_TRUE(drv->GetLineStatus().Empty());
  // Name and queue sizes wait for the port to close.
  drv->SetPortB(pnCOM3);
  drv->SetPortName("elsewhere");
  drv->SetInBufSize(4096);
  drv->SetOutBufSize(4096);
  EXPECT_EQ(drv->Port(), pnCOM7);
  EXPECT_EQ(drv->PortName(), "COM7");
  EXPECT_EQ(drv->InBufSize(), 2048u);
  EXPECT_EQ(drv->OutBufSize(), 2048u);
  EXPECT_TRUE(drv->Connect());  // already connected
  drv->Disconnect();
  EXPECT_FALSE(drv->Connected());
  EXPECT_EQ(drv->Handle(), -1);
  drv->Disconnect();  // nothing
}

TEST_F(CommdrvOnPty, SetHandleKeepsTheCurrentHandleAndCannotAdoptAForeignOne) {
  Open();
  EXPECT_TRUE(drv->SetHandle(drv->Handle()));
  EXPECT_TRUE(drv->Connected());
  EXPECT_FALSE(drv->SetHandle(peer.SlaveFd()));
  EXPECT_FALSE(drv->Connected());
  Open();
  EXPECT_FALSE(drv->SetHandle(-2));
  EXPECT_FALSE(drv->Connected());
  EXPECT_TRUE(drv->SetHandle(-1));
}

TEST_F(CommdrvOnPty, ReadReturnsAtTheCountOrAfterTheInactivityTimeout) {
  drv->InputTimeout = 300;
  Open();
  uint8_t buf[8] = {};
  QElapsedTimer t;

  // Silent peer: nothing, after about InputTimeout.
  t.start();
  EXPECT_EQ(drv->ReadData(buf, 6), 0u);
  EXPECT_GE(t.elapsed(), 250);

  // Six bytes 10 ms apart, starting after the call: all six, as soon as the sixth is there (a
  // read that waited for its ten-minute time-out would never end the test).
  drv->InputTimeout = 600000;
  peer.WriteSpaced(Bytes({1, 2, 3, 4, 5, 6}), 20ms, 10ms);
  EXPECT_EQ(drv->ReadData(buf, 6), 6u);
  peer.Join();
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 6), Bytes({1, 2, 3, 4, 5, 6}));

  // An answer that arrived before the read counts at once: no wait for the time-out.
  peer.Write(Bytes({9, 8, 7, 6, 5, 4}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return drv->CountRX() == 6; }, 10000));
  EXPECT_EQ(drv->ReadData(buf, 6), 6u);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 6), Bytes({9, 8, 7, 6, 5, 4}));

  // Fewer bytes than asked: what came, after the line has been quiet for InputTimeout.
  drv->InputTimeout = 300;
  peer.Write(Bytes({1, 2, 3, 4}));
  t.start();
  EXPECT_EQ(drv->ReadData(buf, 6), 4u);
  EXPECT_GE(t.elapsed(), 250);

  // More than asked: the rest stays queued for the next read.
  peer.Write(Bytes({0x11, 0x22, 0x33}));
  ASSERT_TRUE(drv->ReadByte(buf[0]));
  EXPECT_EQ(buf[0], 0x11);
  char c = 0;
  ASSERT_TRUE(drv->ReadChar(c));
  EXPECT_EQ(c, 0x22);
  EXPECT_EQ(drv->CountRX(), 1u);
  EXPECT_TRUE(drv->FlushBuffers(true, false));
  EXPECT_EQ(drv->CountRX(), 0u);
}

TEST_F(CommdrvOnPty, WritesGoOutInPiecesOfTheOutputQueueAndGiveUpOnAStuckLine) {
  drv->SetOutBufSize(128);
  Open();
  std::vector<uint8_t> data(1000);
  std::iota(data.begin(), data.end(), 0);
  EXPECT_EQ(drv->SendData(data.data(), 1000), 1000u);
  EXPECT_EQ(peer.Read(1000), data);
  EXPECT_EQ(drv->OutFreeSpace(), 128);

  EXPECT_TRUE(drv->SendByte(0x41));
  EXPECT_TRUE(drv->SendChar('B'));
  EXPECT_TRUE(drv->SendString("CD"));
  EXPECT_TRUE(drv->SendZString("EF"));
  EXPECT_EQ(peer.Read(6), Bytes({'A', 'B', 'C', 'D', 'E', 'F'}));

  // The peer stops reading: the pty fills up and the write ends after its time-out with what
  // the driver took, less than asked.
  peer.HoldReading(true);
  std::vector<uint8_t> big(4 << 20, 0x55);
  const uint32_t sent = drv->SendDataEx(big.data(), static_cast<uint32_t>(big.size()), 200);
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, big.size());
  peer.HoldReading(false);
  peer.ReadFor(100ms);
}

TEST_F(CommdrvOnPty, PollingTimerDeliversUnaskedBytesOnlyWhileNoReadWaits) {
  std::vector<uint8_t> got;
  QObject* sender = nullptr;
  drv->OnReceiveData = [&](QObject* s, const void* p, uint32_t n) {
    sender = s;
    got.insert(got.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
  };
  drv->SetPollingDelay(20);
  Open();

  peer.Write(Bytes({0x02, 0x03, 0x06}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return got.size() == 3; }, 10000));
  EXPECT_EQ(got, Bytes({0x02, 0x03, 0x06}));
  EXPECT_EQ(sender, drv);

  // Paused: the bytes wait, through several ticks, for the polling to go on.
  got.clear();
  drv->PausePolling();
  peer.Write(Bytes({7, 8}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return drv->CountRX() == 2; }, 10000));
  WaitTicks(3);
  EXPECT_TRUE(got.empty());
  drv->ContinuePolling();
  ASSERT_TRUE(QTest::qWaitFor([&] { return got.size() == 2; }, 10000));

  // A waiting read takes everything; the timer gets nothing of it.
  got.clear();
  peer.WriteSpaced(Bytes({1, 2, 3, 4, 5, 6}), 10ms, 15ms);
  uint8_t buf[6];
  EXPECT_EQ(drv->ReadData(buf, 6), 6u);
  peer.Join();
  WaitTicks(3);
  EXPECT_TRUE(got.empty());
  EXPECT_TRUE(drv->IsPolling());

  // Without a handler, bytes are drained every PollingDelay and lost.
  drv->OnReceiveData = nullptr;
  peer.Write(Bytes({9, 9, 9}));
  WaitTicks(2);
  EXPECT_EQ(drv->CountRX(), 0u);
  drv->InputTimeout = 100;
  EXPECT_EQ(drv->ReadData(buf, 1), 0u);

  // Timer restarts with a new delay while open; closing stops delivery.
  drv->SetPollingDelay(5);
  EXPECT_EQ(drv->PollingDelay(), 5);
}
