// The link's device search over COM1-COM4, and a port that fails under an idle link, over real
// pseudo-terminals.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <vector>

#include "Frame.h"
#include "PortNames.h"
#include "PtyPeer.h"
#include "ZelnetLink.h"

using namespace velkor;
using zelnet::test::PtyPeer;
using zelnet::test::WithCrc;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes kIdling = WithCrc({0x02, 0x03, 0x06, 0x14});
const Bytes kAnswerZero = WithCrc({0x02, 0x03, 0x06, 0x00});

// A validator that answers every request but the ACK.
void Answering(PtyPeer& peer, const Bytes& answer) {
  peer.SetResponder([answer](const Bytes& request) {
    return request.size() > 3 && request[3] == kCmdAck ? Bytes{} : answer;
  });
}

struct SearchRig {
  SearchRig() : link(LinkHost{[this](const QString& line) { log << line; }, {}, {}, {}}) {}
  int Search(ZelnetLink::Probe probe) {
    positions.clear();
    return link.Search(
        probe, [] { return 9600u; }, [this](int n) { positions.push_back(n); });
  }
  zelnet::test::PortNames ports;
  QStringList log;
  std::vector<int> positions;
  ZelnetLink link;
};

}  // namespace

TEST(DeviceSearch, TheResetProbeStopsAtTheFirstPortThatAnswers) {
  PtyPeer silent;
  PtyPeer validator;
  Answering(validator, kAnswerZero);
  SearchRig rig;
  rig.ports.SetAll({"", silent.SlavePath(), validator.SlavePath(), ""});
  EXPECT_EQ(rig.Search(ZelnetLink::Probe::Reset), 3);
  EXPECT_EQ(rig.positions, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(rig.link.IsOpen());
  // The silent port costs its transaction's lines; the Reset frame reached both ports that opened.
  EXPECT_EQ(rig.log, (QStringList{"==================================", "Time-out!"}));
  ASSERT_EQ(validator.Requests().size(), 1u);
  EXPECT_EQ(validator.Requests()[0], (Bytes{0x02, 0x03, 0x06, 0x30, 0x41, 0xB3}));
  EXPECT_EQ(silent.Requests().size(), 1u);
  EXPECT_TRUE(rig.link.Refusal(true).isEmpty());  // the search is over: a new one may start
}

TEST(DeviceSearch, ABusResetWithoutAnswerLeavesNoPortOpen) {
  SearchRig rig;
  rig.ports.SetAll({});
  EXPECT_EQ(rig.Search(ZelnetLink::Probe::BusReset), 0);
  EXPECT_EQ(rig.positions, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_FALSE(rig.link.IsOpen());
  EXPECT_TRUE(rig.log.isEmpty());
  EXPECT_EQ(ZelnetLink::SearchSteps(ZelnetLink::Probe::BusReset), 8);
  EXPECT_EQ(ZelnetLink::SearchSteps(ZelnetLink::Probe::Reset), 4);
}

// An adapter pulled out while the port is open and nothing is sent: the port is closed under the
// link instead of spinning on it (bench_velkor_waits measures the CPU of the idle link), later
// commands end as time-outs, and the bus reset finds the device that comes back behind the same
// name.
TEST(PortLoss, AHungUpPortTimesOutUntilTheBusResetFindsTheDeviceAgain) {
  SearchRig rig;
  auto first = std::make_unique<PtyPeer>();
  Answering(*first, kIdling);
  rig.ports.SetAll({first->SlavePath()});
  ASSERT_EQ(rig.Search(ZelnetLink::Probe::Reset), 1);
  std::array<uint8_t, 256> buffer{};
  ASSERT_EQ(rig.link.SendCommand(kCmdPoll, buffer, 30), txOk);

  first.reset();                      // the far end hangs up
  QCoreApplication::processEvents();  // the port's error arrives with the window's events

  ASSERT_TRUE(rig.link.IsOpen());  // the handle stays until the next search
  rig.log.clear();
  QElapsedTimer timed;
  timed.start();
  EXPECT_EQ(rig.link.SendCommand(kCmdPoll, buffer, 30), txTimeOut);
  EXPECT_GE(timed.elapsed(), 250);  // the time-out is waited out, not spun through
  EXPECT_EQ(rig.log, (QStringList{"==================================", "Time-out!"}));

  PtyPeer second;
  Answering(second, kIdling);
  rig.ports.SetAll({second.SlavePath()});
  EXPECT_EQ(rig.Search(ZelnetLink::Probe::BusReset), 1);
  EXPECT_EQ(rig.link.SendCommand(kCmdPoll, buffer, 30), txOk);
}
