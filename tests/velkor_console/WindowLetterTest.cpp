// The main window where its boxes, its fonts and its clicks must follow the design exactly:
// an editable box whose text matches no item chooses nothing, the forms' font, and the one guard
// that refuses a click while an exchange waits.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QTreeWidget>
#include <algorithm>

#include "ConsoleRig.h"
#include "Frame.h"
#include "ItemChoice.h"
#include "Statformunit.h"
#include "ui_Mainunit.h"

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
  form.ui->CmbBoxLenghtBarCode->setEditText(QStringLiteral("20 numbers"));
  EXPECT_EQ(velkor::ItemIndex(*form.ui->CmbBoxLenghtBarCode), -1);
  Click(form.ui->BtnSetParamBarCode);
  EXPECT_EQ(validator.Frames().back(),
            zelnet::test::WithCrc({0x02, 0x03, 0x08, velkor::kCmdSetupBarcode, 0x01, 0x04}));
  form.ui->CmbBoxLenghtBarCode->setEditText(QStringLiteral("8 numbers"));
  Click(form.ui->BtnSetParamBarCode);
  EXPECT_EQ(validator.Frames().back()[5], 8);

  // Escrow action: a text that is neither "Return" nor "Stack" stacks.
  form.ui->CmbBoxPoll->setEditText(QStringLiteral("Hold"));
  EXPECT_EQ(velkor::ItemIndex(*form.ui->CmbBoxPoll), -1);
  form.ui->CmbBoxPoll->setEditText(QStringLiteral("Return"));
  EXPECT_EQ(velkor::ItemIndex(*form.ui->CmbBoxPoll), 0);

  // Rate: the box's item 0 still shows as current, but "38400" searches at 19200 baud.
  form.ui->CmbBoxRate->setEditText(QStringLiteral("38400"));
  Click(form.ui->BtnResetHard);
  ASSERT_TRUE(form.Link.IsOpen());
  EXPECT_EQ(validator.peer.BaudRate(), 19200u);
}

TEST(Fonts, TheFormsAskForMsSansSerifAndTheLogStaysBold) {
  RecordingDialogs dialogs;
  SetPorts({});
  TMainForm form({&dialogs, {}});
  EXPECT_EQ(form.font().family(), "MS Sans Serif");
  EXPECT_TRUE(form.ui->MemoMessage->font().bold());
  EXPECT_EQ(form.StatisticForm->font().family(), "MS Sans Serif");
  EXPECT_EQ(form.StatisticForm->font().pixelSize(), 14);
  EXPECT_EQ(QFontInfo(form.StatisticForm->TreeView1()->font()).pixelSize(), 14);
}

TEST(ClickGuard, StartPollDuringTheStatisticsWaitIsRefusedOnceAndStartsNothing) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  TMainForm& form = *console.form;
  validator.SetAnswerDelay(velkor::kCmdRequestStatistics, 600);
  bool pollingDuringWait = false;
  When meanwhile([&] { return form.Link.ExchangeBusy(); },
                 [&] {
                   Click(form.ui->BtnStartPoll);
                   Click(form.ui->BtnPoll);
                   pollingDuringWait = !form.ui->BtnGetStatus->isEnabled();  // the loop's lock
                 });
  const int before = console.LineCount();
  Click(form.ui->BtnReqStat);
  ASSERT_TRUE(meanwhile.Fired());
  EXPECT_FALSE(pollingDuringWait);
  const QStringList lines = console.LinesSince(before);
  EXPECT_EQ(lines.count("The line is busy - command refused!"), 2)
      << lines.join('\n').toStdString();
  EXPECT_EQ(lines.value(0), "The line is busy - command refused!");
  EXPECT_EQ(lines.value(1), "The line is busy - command refused!");
  EXPECT_EQ(CountOf(validator.Codes(), velkor::kCmdPoll), 0u);
  EXPECT_TRUE(form.ui->BtnStartPoll->isEnabled());
  EXPECT_TRUE(form.ui->BtnGetStatus->isEnabled());  // no loop holds the controls
}

TEST(ClickGuard, AStatisticsRequestRefusedAsBusyLogsOnlyTheRefusal) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  TMainForm& form = *console.form;
  validator.SetAnswerDelay(velkor::kCmdGetBillTable, 400);
  // Run from inside the wait, the way a timer or another handler would run it.
  When meanwhile([&] { return form.Link.ExchangeBusy(); }, [&] { form.BtnReqStatClick(); });
  const int before = console.LineCount();
  Click(form.ui->BtnGetDescription);
  ASSERT_TRUE(meanwhile.Fired());
  const QStringList lines = console.LinesSince(before);
  EXPECT_EQ(lines.value(0), "The line is busy - command refused!");
  EXPECT_FALSE(lines.contains("Statistic data is not correct!"));
  EXPECT_EQ(lines.count("The line is busy - command refused!"), 1);
  EXPECT_EQ(CountOf(validator.Codes(), velkor::kCmdRequestStatistics), 0u);
  EXPECT_EQ(CountOf(validator.Codes(), 0x62), 0u);
  EXPECT_TRUE(form.ui->BtnReqStat->isEnabled());
}
