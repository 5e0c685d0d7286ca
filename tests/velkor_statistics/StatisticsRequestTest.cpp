// Request Statistics and View Statistics in the main window, offscreen, against bvsim: the tree
// filled from the simulator's block with every text exact, and the answers that must never fill
// it (a short answer, a wrong type, a wrong check code, a time-out), each with the enabled state
// of both statistics buttons.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "ConsoleRig.h"
#include "Statformunit.h"
#include "bvsim.h"

using namespace velkor::test;
using velkor::TMainForm;

namespace {

// N = 3: 500 new Dollars, 1 Dollar, 20 Dollars; a fourth entry that must be ignored.
bvsim::Statistics ThreeDenominations() {
  bvsim::Statistics s;
  s.country = "USA";
  s.denominations = 3;
  s.serial = "K21A00004711";
  s.year = 2002;
  s.month = 3;
  s.day = 7;
  s.hour = 9;
  s.minute = 5;
  s.second = 0;
  for (unsigned r = 0; r < 16; ++r) {
    s.samples10000[r].inserted = static_cast<uint16_t>(100 + r);
    s.samples10000[r].jamsExit = static_cast<uint8_t>(180 + r);
  }
  s.samples10000[0].accepted[1] = 0x1234;
  s.samples10000[15].rejectedCapacitance[2] = 65535;
  s.samples500[0].accepted[2] = 777;
  s.samples500[3].rejectedVerification[0] = 200;
  s.samples500[19].jamsTotal = 42;
  s.samples50[0] = 9;
  s.samples50[19] = 250;
  s.denominationTable[0] = {0x45, 'U', 'S', 'A', 2};
  s.denominationTable[1] = {0x01, 'U', 'S', 'A', 0};
  s.denominationTable[2] = {0x02, 'U', 'S', 'A', 1};
  s.denominationTable[3] = {0x05, 'U', 'S', 'A', 3};
  s.currencyName = "Dollar";
  return s;
}

bvsim::Config WithStatistics(const bvsim::Statistics& statistics) {
  bvsim::Config config;
  config.statistics = statistics;
  return config;
}

int CountNodes(const QTreeWidgetItem* item) {
  int n = 1;
  for (int i = 0; i < item->childCount(); ++i) n += CountNodes(item->child(i));
  return n;
}

// Every node's text, depth first, indented by its level.
void Collect(const QTreeWidgetItem* item, int level, QStringList& texts) {
  texts << QString(level, ' ') + item->text(0);
  for (int i = 0; i < item->childCount(); ++i) Collect(item->child(i), level + 1, texts);
}

// The window found the simulator with these statistics on COM1 at start-up.
struct StatWindow : SimConsole {
  explicit StatWindow(const bvsim::Statistics& statistics)
      : SimConsole(WithStatistics(statistics)) {
    EXPECT_TRUE(Lines().contains("Device has found on COM1!"));
  }

  QStringList Request() {
    sim.ClearReceived();
    const qsizetype from = Lines().size();
    Click(Button("BtnReqStat"));
    return Lines().mid(from);
  }
  // The statistics window, one of the main window's own.
  velkor::TStatisticForm& Statistics() const {
    return *Control<velkor::TStatisticForm>(*form, "TStatisticForm");
  }
  QTreeWidget& Tree() const { return *Control<QTreeWidget>(Statistics(), "TreeView1"); }
  int NodeCount() const {
    int n = 0;
    for (int i = 0; i < Tree().topLevelItemCount(); ++i) n += CountNodes(Tree().topLevelItem(i));
    return n;
  }
  QStringList Texts() const {
    QStringList texts;
    for (int i = 0; i < Tree().topLevelItemCount(); ++i) Collect(Tree().topLevelItem(i), 0, texts);
    return texts;
  }
  QTreeWidgetItem* Counter(int group, int counter) const {
    return Statistics().CounterNode(static_cast<size_t>(group), static_cast<size_t>(counter));
  }
  bool RequestEnabled() const { return Button("BtnReqStat")->isEnabled(); }
  bool ViewEnabled() const { return Button("BtnViewStatistic")->isEnabled(); }
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const bvsim::Frame& f : sim.ReceivedFrames()) codes.push_back(f.Command());
    return codes;
  }
};

QString Child(const QTreeWidgetItem* item, int index) {
  return item && item->child(index) ? item->child(index)->text(0) : QStringLiteral("<none>");
}

}  // namespace

TEST(RequestStatistics, FillsTheTreeWithEveryTextAndViewStatisticsShowsIt) {
  StatWindow w(ThreeDenominations());
  EXPECT_FALSE(w.ViewEnabled()) << "nothing to view before a request";
  EXPECT_EQ(w.NodeCount(), 32);

  // While the answer is awaited only the two statistics buttons are disabled.
  bvsim::Fault late;
  late.kind = bvsim::Fault::Late;
  late.command = 0x60;
  late.delayMs = 300;
  w.sim.InjectFault(late);
  bool bothDisabled = false;
  bool othersEnabled = false;
  When waiting([&] { return w.sim.WaitForCommand(0x60, std::chrono::milliseconds(0)); },
               [&] {
                 bothDisabled = !w.RequestEnabled() && !w.ViewEnabled();
                 othersEnabled =
                     w.Button("BtnPoll")->isEnabled() && w.Button("BtnDownload")->isEnabled();
               });
  // The answer's byte 3 (a length byte) differs from the last status: a separator first.
  EXPECT_EQ(w.Request(), (QStringList{kSep, "The Read Statistic-command is executed"}));
  EXPECT_TRUE(waiting.Fired());
  EXPECT_TRUE(bothDisabled);
  EXPECT_TRUE(othersEnabled);
  EXPECT_TRUE(w.RequestEnabled());
  EXPECT_TRUE(w.ViewEnabled());
  EXPECT_EQ(w.Codes(), std::vector<int>{0x60});
  ASSERT_FALSE(w.sim.ReceivedFrames().empty());
  EXPECT_EQ(w.sim.ReceivedFrames()[0].bytes,
            (std::vector<uint8_t>{0x02, 0x03, 0x06, 0x60, 0xC4, 0xE1}));

  QTreeWidget& tree = w.Tree();
  ASSERT_EQ(tree.topLevelItemCount(), 8);
  QStringList top;
  for (int i = 0; i < 8; ++i) top << tree.topLevelItem(i)->text(0);
  EXPECT_EQ(top, (QStringList{
                     "Country Code -  USA", "Total number of denominations -  3",
                     "Type of statistics -  5", "Date and time of last clearing : 2002/3/7 9:5:0",
                     "Serial number: K21A00004711", "Samples based on 10000 inserted bills",
                     "Samples based on 500 inserted bills", "Samples based on 50 inserted bills"}));
  EXPECT_EQ(w.NodeCount(), 763);

  // 10000 bills: current first, then samples 1 (record 14) ... 15 (record 0).
  QTreeWidgetItem* inserted = w.Counter(0, 0);
  ASSERT_EQ(inserted->childCount(), 16);
  EXPECT_EQ(Child(inserted, 0), "Current Sample -  115");
  EXPECT_EQ(Child(inserted, 1), "1 Sample -  114");
  EXPECT_EQ(Child(inserted, 15), "15 Sample -  100");
  EXPECT_EQ(Child(w.Counter(0, 19), 0), "Current Sample -  195");
  EXPECT_EQ(Child(w.Counter(0, 19), 15), "15 Sample -  180");
  // Per-denomination counters: N labels, with and without "new", singular and plural.
  for (int counter = 1; counter <= 4; ++counter) {
    QTreeWidgetItem* node = w.Counter(0, counter);
    ASSERT_EQ(node->childCount(), 3) << counter;
    EXPECT_EQ(Child(node, 0), "500 new Dollars");
    EXPECT_EQ(Child(node, 1), "1 Dollar");
    EXPECT_EQ(Child(node, 2), "20 Dollars");
    EXPECT_EQ(node->child(1)->childCount(), 16);
  }
  EXPECT_EQ(Child(w.Counter(0, 1)->child(1), 15), "15 Sample -  4660");
  EXPECT_EQ(Child(w.Counter(0, 4)->child(2), 0), "Current Sample -  65535");
  // 500 bills: labels list samples 1 (record 19) ... 20 (record 0).
  ASSERT_EQ(w.Counter(1, 0)->childCount(), 3);
  EXPECT_EQ(Child(w.Counter(1, 0)->child(2), 19), "20 Sample -  777");
  EXPECT_EQ(Child(w.Counter(1, 1), 0), "500 new Dollars");
  EXPECT_EQ(Child(w.Counter(1, 1)->child(0), 16), "17 Sample -  200");
  EXPECT_EQ(Child(w.Counter(1, 7), 0), "1 Sample -  42");
  // 50 bills.
  EXPECT_EQ(Child(w.Counter(2, 0), 0), "1 Sample -  250");
  EXPECT_EQ(Child(w.Counter(2, 0), 19), "20 Sample -  9");

  Click(w.Button("BtnViewStatistic"));
  EXPECT_EQ(w.dialogs.modalTitles, QStringList{"Statistics"});
  EXPECT_EQ(w.dialogs.lastModal, &w.Statistics());

  // A second request replaces the nodes of the first.
  const QStringList before = w.Texts();
  EXPECT_EQ(w.Request(), (QStringList{kSep, "The Read Statistic-command is executed"}));
  EXPECT_EQ(w.NodeCount(), 763);
  EXPECT_EQ(w.Texts(), before);
}

TEST(RequestStatistics, AnswersThatAreNoGoodBlockNeverFillTheTree) {
  StatWindow w(ThreeDenominations());
  ASSERT_EQ(w.Request(), (QStringList{kSep, "The Read Statistic-command is executed"}));
  const QStringList filled = w.Texts();
  // Every bad answer below carries another block (or its start), which a fill would show.
  bvsim::Statistics other = ThreeDenominations();
  other.country = "EUR";
  other.serial = "OTHER";
  other.samples10000[15].inserted = 9999;
  const std::vector<uint8_t> otherFrame = bvsim::EncodeStatisticsFrame(other, 0x03);
  const std::vector<int> withReject = {0x60, 0x62};
  const QStringList rejectLines = {kSep, "Invalid command!", "Statistic data is not correct!"};

  // A short answer whose byte 4 is 0x31: only the transaction's line; View stays disabled.
  w.sim.ScriptAnswer(0x60, {0x00, 0x31});
  EXPECT_EQ(w.Request(), (QStringList{kSep, "Statistic data is not correct!"}));
  EXPECT_EQ(w.Codes(), std::vector<int>{0x60});
  EXPECT_TRUE(w.RequestEnabled());
  EXPECT_FALSE(w.ViewEnabled());
  EXPECT_EQ(w.Texts(), filled);

  // A whole block of type 4: command 0x62 goes out, its result ignored.
  other.type = 4;
  w.sim.ScriptRawAnswer(0x60, bvsim::EncodeStatisticsFrame(other, 0x03));
  other.type = 5;
  EXPECT_EQ(w.Request(), QStringList{kSep} + rejectLines);
  EXPECT_EQ(w.Codes(), withReject);
  ASSERT_EQ(w.sim.ReceivedFrames().size(), 2u);
  EXPECT_TRUE(w.sim.ReceivedFrames()[1].crcOk);
  EXPECT_EQ(w.sim.ReceivedFrames()[1].bytes.size(), 6u);
  EXPECT_TRUE(w.RequestEnabled());
  EXPECT_FALSE(w.ViewEnabled());
  EXPECT_EQ(w.Texts(), filled);

  // A block of type 5 with a wrong check code.
  std::vector<uint8_t> badCrc = otherFrame;
  badCrc.back() ^= 0xFF;
  w.sim.ScriptRawAnswer(0x60, badCrc);
  EXPECT_EQ(w.Request(), QStringList({kSep, "Error CRC!"}) + rejectLines);
  EXPECT_EQ(w.Codes(), withReject);
  EXPECT_FALSE(w.ViewEnabled());
  EXPECT_EQ(w.Texts(), filled);

  // The first 40 bytes of a block (type 5 in byte 9), then silence: the time-out ends the read
  // (its timer is run out from inside the wait rather than after 100 s).
  w.sim.ScriptRawAnswer(0x60, std::vector<uint8_t>(otherFrame.begin(), otherFrame.begin() + 40));
  const size_t sent = w.sim.SentFrames().size();
  When timeOut([&] { return w.sim.SentFrames().size() > sent; },
               [&] { w.form->TimerComPortTimer(); });
  EXPECT_EQ(w.Request(), QStringList({kSep, "Time-out!"}) + rejectLines);
  EXPECT_TRUE(timeOut.Fired());
  EXPECT_EQ(w.Codes(), withReject);
  EXPECT_TRUE(w.RequestEnabled());
  EXPECT_FALSE(w.ViewEnabled());
  EXPECT_EQ(w.Texts(), filled);

  // No port open: the transaction's box, and both buttons come back; the tree is still there.
  w.Detach();
  EXPECT_TRUE(w.Request().isEmpty());
  EXPECT_EQ(w.dialogs.errorBoxes, QStringList{"Execute search and reset of the BV!"});
  EXPECT_TRUE(w.RequestEnabled());
  EXPECT_TRUE(w.ViewEnabled());
  Click(w.Button("BtnViewStatistic"));
  EXPECT_EQ(w.dialogs.modalTitles, QStringList{"Statistics"});
  EXPECT_EQ(w.Texts(), filled);
}
