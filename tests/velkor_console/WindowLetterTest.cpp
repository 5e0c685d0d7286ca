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

using namespace velkor::test;
using velkor::TMainForm;

namespace {

size_t CountOf(const std::vector<uint8_t>& codes, uint8_t code) {
  return static_cast<size_t>(std::count(codes.begin(), codes.end(), code));
}

}  // namespace

TEST(EditableBoxes, ATypedTextThatMatchesNoItemChoosesNothing) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  TMainForm& form = *console.form;

  // Barcode length: no item chosen gives 4 characters.
  Control<QComboBox>(form, "CmbBoxLenghtBarCode")->setEditText(QStringLiteral("20 numbers"));
  EXPECT_EQ(velkor::ItemIndex(*Control<QComboBox>(form, "CmbBoxLenghtBarCode")), -1);
  Click(console.Button("BtnSetParamBarCode"));
  EXPECT_EQ(validator.Frames().back(),
            zelnet::test::WithCrc({0x02, 0x03, 0x08, velkor::kCmdSetupBarcode, 0x01, 0x04}));
  Control<QComboBox>(form, "CmbBoxLenghtBarCode")->setEditText(QStringLiteral("8 numbers"));
  Click(console.Button("BtnSetParamBarCode"));
  EXPECT_EQ(validator.Frames().back()[5], 8);

  // Escrow action: a text that is neither "Return" nor "Stack" stacks.
  Control<QComboBox>(form, "CmbBoxPoll")->setEditText(QStringLiteral("Hold"));
  EXPECT_EQ(velkor::ItemIndex(*Control<QComboBox>(form, "CmbBoxPoll")), -1);
  Control<QComboBox>(form, "CmbBoxPoll")->setEditText(QStringLiteral("Return"));
  EXPECT_EQ(velkor::ItemIndex(*Control<QComboBox>(form, "CmbBoxPoll")), 0);

  // Rate: the box's item 0 still shows as current, but "38400" searches at 19200 baud.
  Control<QComboBox>(form, "CmbBoxRate")->setEditText(QStringLiteral("38400"));
  const int before = console.LineCount();
  Click(console.Button("BtnResetHard"));
  EXPECT_TRUE(console.LinesSince(before).contains("Device has found on COM1!"));
  EXPECT_EQ(validator.peer.BaudRate(), 19200u);
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
  ScriptedValidator validator;
  AttachedConsole console(validator);
  validator.SetAnswerDelay(velkor::kCmdRequestStatistics, 600);
  bool pollingDuringWait = false;
  // The request has reached the validator: its exchange waits for the late answer.
  When meanwhile([&] { return CountOf(validator.Codes(), velkor::kCmdRequestStatistics) > 0; },
                 [&] {
                   Click(console.Button("BtnStartPoll"));
                   Click(console.Button("BtnPoll"));
                   pollingDuringWait =
                       !console.Button("BtnGetStatus")->isEnabled();  // the loop's lock
                 });
  const int before = console.LineCount();
  Click(console.Button("BtnReqStat"));
  ASSERT_TRUE(meanwhile.Fired());
  EXPECT_FALSE(pollingDuringWait);
  const QStringList lines = console.LinesSince(before);
  EXPECT_EQ(lines.count("The line is busy - command refused!"), 2)
      << lines.join('\n').toStdString();
  EXPECT_EQ(lines.value(0), "The line is busy - command refused!");
  EXPECT_EQ(lines.value(1), "The line is busy - command refused!");
  EXPECT_EQ(CountOf(validator.Codes(), velkor::kCmdPoll), 0u);
  EXPECT_TRUE(console.Button("BtnStartPoll")->isEnabled());
  EXPECT_TRUE(console.Button("BtnGetStatus")->isEnabled());  // no loop holds the controls
}

TEST(ClickGuard, AStatisticsRequestRefusedAsBusyLogsOnlyTheRefusal) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  TMainForm& form = *console.form;
  validator.SetAnswerDelay(velkor::kCmdGetBillTable, 400);
  // Run from inside the wait, the way a timer or another handler would run it.
  When meanwhile([&] { return CountOf(validator.Codes(), velkor::kCmdGetBillTable) > 0; },
                 [&] { form.BtnReqStatClick(); });
  const int before = console.LineCount();
  Click(console.Button("BtnGetDescription"));
  ASSERT_TRUE(meanwhile.Fired());
  const QStringList lines = console.LinesSince(before);
  EXPECT_EQ(lines.value(0), "The line is busy - command refused!");
  EXPECT_FALSE(lines.contains("Statistic data is not correct!"));
  EXPECT_EQ(lines.count("The line is busy - command refused!"), 1);
  EXPECT_EQ(CountOf(validator.Codes(), velkor::kCmdRequestStatistics), 0u);
  EXPECT_EQ(CountOf(validator.Codes(), 0x62), 0u);
  EXPECT_TRUE(console.Button("BtnReqStat")->isEnabled());
}
