// The main window where its boxes, its fonts and its clicks must follow the design exactly:
// an editable box whose text matches no item chooses nothing, the forms' font, and the one guard
// that refuses a click while an exchange waits.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFontInfo>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <algorithm>

#include "ConsoleRig.h"
#include "Frame.h"
#include "ItemChoice.h"
#include "bvsim.h"

using namespace velkor::test;
using velkor::TMainForm;

namespace {

// How many requests with this code the simulator received since its record was cleared.
size_t CountOf(const bvsim::Simulator& sim, uint8_t code) {
  size_t n = 0;
  for (const bvsim::Frame& frame : sim.ReceivedFrames()) n += frame.Command() == code;
  return n;
}

// The answers to `code` come `ms` late.
void AnswerLate(bvsim::Simulator& sim, uint8_t code, int ms) {
  bvsim::Fault late;
  late.kind = bvsim::Fault::Late;
  late.command = code;
  late.delayMs = ms;
  late.count = bvsim::kForever;
  sim.InjectFault(late);
}

}  // namespace

TEST(EditableBoxes, ATypedTextThatMatchesNoItemChoosesNothing) {
  SimConsole console;
  TMainForm& form = *console.form;

  // Barcode length: no item chosen gives 4 characters.
  Control<QComboBox>(form, "CmbBoxLenghtBarCode")->setEditText(QStringLiteral("20 numbers"));
  EXPECT_EQ(velkor::ItemIndex(*Control<QComboBox>(form, "CmbBoxLenghtBarCode")), -1);
  Click(console.Button("BtnSetParamBarCode"));
  EXPECT_EQ(console.sim.ReceivedFrames().back().bytes,
            zelnet::test::WithCrc({0x02, 0x03, 0x08, velkor::kCmdSetupBarcode, 0x01, 0x04}));
  Control<QComboBox>(form, "CmbBoxLenghtBarCode")->setEditText(QStringLiteral("8 numbers"));
  Click(console.Button("BtnSetParamBarCode"));
  EXPECT_EQ(console.sim.ReceivedFrames().back().bytes[5], 8);

  // Escrow action: a text that is neither "Return" nor "Stack" stacks.
  Control<QComboBox>(form, "CmbBoxPoll")->setEditText(QStringLiteral("Hold"));
  EXPECT_EQ(velkor::ItemIndex(*Control<QComboBox>(form, "CmbBoxPoll")), -1);
  Control<QComboBox>(form, "CmbBoxPoll")->setEditText(QStringLiteral("Return"));
  EXPECT_EQ(velkor::ItemIndex(*Control<QComboBox>(form, "CmbBoxPoll")), 0);

  // Rate: the box's item 0 still shows as current, but "38400" searches at 19200 baud.
  Control<QComboBox>(form, "CmbBoxRate")->setEditText(QStringLiteral("38400"));
  const qsizetype before = console.Lines().size();
  Click(console.Button("BtnResetHard"));
  EXPECT_TRUE(console.Since(before).contains("Device has found on COM1!"));
  EXPECT_EQ(console.sim.LineBaud(), 19200u);
}

TEST(Fonts, TheFormsAskForMsSansSerifAndTheLogStaysBold) {
  RecordingDialogs dialogs;
  PortNames ports{std::vector<std::string>{}};
  TMainForm form({&dialogs, {}});
  EXPECT_EQ(form.font().family(), "MS Sans Serif");
  EXPECT_TRUE(Control<QPlainTextEdit>(form, "MemoMessage")->font().bold());
  const QDialog* statistics = Control<QDialog>(form, "TStatisticForm");
  EXPECT_EQ(statistics->font().family(), "MS Sans Serif");
  EXPECT_EQ(statistics->font().pixelSize(), 14);
  EXPECT_EQ(QFontInfo(Control<QTreeWidget>(*statistics, "TreeView1")->font()).pixelSize(), 14);
}

TEST(ClickGuard, StartPollDuringTheStatisticsWaitIsRefusedOnceAndStartsNothing) {
  SimConsole console;
  AnswerLate(console.sim, velkor::kCmdRequestStatistics, 600);
  console.sim.ClearReceived();
  bool pollingDuringWait = false;
  // The request has reached the validator: its exchange waits for the late answer.
  When meanwhile([&] { return CountOf(console.sim, velkor::kCmdRequestStatistics) > 0; },
                 [&] {
                   Click(console.Button("BtnStartPoll"));
                   Click(console.Button("BtnPoll"));
                   pollingDuringWait =
                       !console.Button("BtnGetStatus")->isEnabled();  // the loop's lock
                 });
  const qsizetype before = console.Lines().size();
  Click(console.Button("BtnReqStat"));
  ASSERT_TRUE(meanwhile.Fired());
  EXPECT_FALSE(pollingDuringWait);
  const QStringList lines = console.Since(before);
  EXPECT_EQ(lines.count("The line is busy - command refused!"), 2)
      << lines.join('\n').toStdString();
  EXPECT_EQ(lines.value(0), "The line is busy - command refused!");
  EXPECT_EQ(lines.value(1), "The line is busy - command refused!");
  EXPECT_EQ(CountOf(console.sim, velkor::kCmdPoll), 0u);
  EXPECT_TRUE(console.Button("BtnStartPoll")->isEnabled());
  EXPECT_TRUE(console.Button("BtnGetStatus")->isEnabled());  // no loop holds the controls
}

TEST(ClickGuard, AStatisticsRequestRefusedAsBusyLogsOnlyTheRefusal) {
  SimConsole console;
  TMainForm& form = *console.form;
  AnswerLate(console.sim, velkor::kCmdGetBillTable, 400);
  console.sim.ClearReceived();
  // Run from inside the wait, the way a timer or another handler would run it.
  When meanwhile([&] { return CountOf(console.sim, velkor::kCmdGetBillTable) > 0; },
                 [&] { form.BtnReqStatClick(); });
  const qsizetype before = console.Lines().size();
  Click(console.Button("BtnGetDescription"));
  ASSERT_TRUE(meanwhile.Fired());
  const QStringList lines = console.Since(before);
  EXPECT_EQ(lines.value(0), "The line is busy - command refused!");
  EXPECT_FALSE(lines.contains("Statistic data is not correct!"));
  EXPECT_EQ(lines.count("The line is busy - command refused!"), 1);
  EXPECT_EQ(CountOf(console.sim, velkor::kCmdRequestStatistics), 0u);
  EXPECT_EQ(CountOf(console.sim, 0x62), 0u);
  EXPECT_TRUE(console.Button("BtnReqStat")->isEnabled());
}
