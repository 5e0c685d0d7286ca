// The main window without a validator: controls, defaults, the log, the control lock, the close
// query, About and Help; and the screenshots of the three windows (saved in the build folder).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include "About.h"
#include "ConsoleRig.h"
#include "HelpWindow.h"
#include "ProgressBarSteps.h"
#include "ui_About.h"
#include "ui_Mainunit.h"

using namespace velkor::test;
using velkor::TMainForm;

namespace {

std::unique_ptr<TMainForm> NoValidatorForm(RecordingDialogs& dialogs) {
  SetPorts({});
  auto form = std::make_unique<TMainForm>(TMainForm::Setup{&dialogs, {}});
  form->show();
  return form;
}

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

}  // namespace

TEST(MainWindow, OpensAfterAFailedSearchWithEveryControlAtItsDefault) {
  RecordingDialogs dialogs;
  SetPorts({});
  QElapsedTimer clock;
  clock.start();
  auto formPtr = std::make_unique<TMainForm>(TMainForm::Setup{&dialogs, {}});
  // Four ports that cannot be opened cost four blocking 300 ms pauses.
  EXPECT_GE(clock.elapsed(), 1100);
  TMainForm& form = *formPtr;
  Ui::TMainForm& ui = *form.ui;

  // The search ran before the window was first shown: its box, an empty log, no port.
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(dialogs.errorBoxes, QStringList{"BV hasn't found!"});
  EXPECT_TRUE(form.MessageLines().isEmpty());
  EXPECT_FALSE(form.Link.IsOpen());
  EXPECT_EQ(form.Link.LastStatus(), 0);
  EXPECT_TRUE(ui.BtnStartPoll->isEnabled());    // no poll loop holds the controls
  EXPECT_TRUE(dialogs.closeQueries.isEmpty());  // no close asked for, none confirmed
  for (const std::string& name : form.BillNames) EXPECT_TRUE(name.empty());
  EXPECT_EQ(ui.ProgBarMain->value(), 0);

  EXPECT_EQ(form.windowTitle(), "ZELNET Controller for Bill Validator");
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_NEAR(form.width(), 826, 60);
  EXPECT_NEAR(form.height(), 639, 60);

  const std::pair<QAbstractButton*, const char*> captions[] = {
      {ui.CheckBox1, "Show Messages"},
      {ui.BtnExit, "Exit"},
      {ui.BtnResetHard, "Bus Reset"},
      {ui.BtnResetSoft, "Reset"},
      {ui.BtnGetStatus, "Get Status"},
      {ui.BtnIdentification, "Identification"},
      {ui.BtnGetDescription, "Get Bill Table"},
      {ui.BtnStack, "Stack"},
      {ui.BtnReturn, "Return"},
      {ui.BtnHold, "Hold"},
      {ui.BtnReqBarCode, "Extract Barcode Data"},
      {ui.BtnSetParamBarCode, "Setup Barcode"},
      {ui.BtnEnableBill, "Enable Bill Types"},
      {ui.BtnDisableBill, "Disable Bill Types"},
      {ui.BtnSetSecurity, "Set Security"},
      {ui.BtnReqStat, "Request Statistics"},
      {ui.BtnViewStatistic, "View Statistics"},
      {ui.BtnDownload, "Download"},
      {ui.Button1, "CRC32"},
      {ui.BtnPoll, "Poll"},
      {ui.BtnStartPoll, "Start Poll"},
      {ui.BtnStopPoll, "Stop Poll"},
      {ui.Button2, "ACK"},
  };
  for (const auto& [button, caption] : captions) {
    EXPECT_EQ(button->text(), caption);
    EXPECT_EQ(button->isEnabled(), button != ui.BtnViewStatistic) << caption;
  }
  EXPECT_FALSE(ui.CheckBox1->isChecked());
  EXPECT_TRUE(ui.SpBtnHelp->text().isEmpty() || !ui.SpBtnHelp->icon().isNull());
  EXPECT_FALSE(ui.SpBtnHelp->icon().isNull());
  EXPECT_FALSE(ui.SpBtnAbout->icon().isNull());

  EXPECT_EQ(Items(ui.CmbBoxPoll), (QStringList{"Return", "Stack"}));
  EXPECT_EQ(ui.CmbBoxPoll->currentText(), "Return");
  EXPECT_EQ(Items(ui.CmbBoxRate), (QStringList{"9600", "19200"}));
  EXPECT_EQ(ui.CmbBoxRate->currentText(), "9600");
  EXPECT_EQ(Items(ui.CmbBoxLenghtBarCode),
            (QStringList{"6 numbers", "8 numbers", "10 numbers", "12 numbers", "14 numbers",
                         "16 numbers", "18 numbers"}));
  EXPECT_EQ(ui.CmbBoxLenghtBarCode->currentText(), "18 numbers");
  for (QComboBox* box : {ui.CmbBoxPoll, ui.CmbBoxRate, ui.CmbBoxLenghtBarCode}) {
    EXPECT_TRUE(box->isEditable());
  }

  const std::pair<QLineEdit*, const char*> edits[] = {
      {ui.EditEnBillByte1, "11111111"},   {ui.EditEnBillByte2, "11111111"},
      {ui.EditEnBillByte3, "11111111"},   {ui.EditEscBillByte1, "00000000"},
      {ui.EditEscBillByte2, "00000000"},  {ui.EditEscBillByte3, "00000000"},
      {ui.EditSecurityByte1, "00000000"}, {ui.EditSecurityByte2, "00000000"},
      {ui.EditSecurityByte3, "00000000"},
  };
  for (const auto& [edit, text] : edits) {
    EXPECT_EQ(edit->text(), text);
    EXPECT_EQ(edit->maxLength(), 8);
  }
  EXPECT_EQ(ui.GroupBoxEnBill->title(), "Bill Types");
  EXPECT_EQ(ui.GroupBoxEscBill->title(), "Bill Types With Escrow");
  EXPECT_EQ(ui.GroupBoxSecurity->title(), "Bill Types");
  EXPECT_TRUE(ui.GroupBoxEnBill->isAncestorOf(ui.EditEnBillByte1));
  EXPECT_TRUE(ui.GroupBoxEscBill->isAncestorOf(ui.EditEscBillByte3));
  EXPECT_TRUE(ui.GroupBoxSecurity->isAncestorOf(ui.EditSecurityByte2));
  EXPECT_EQ(ui.LabelRate->text(), "Baud Rate COM-port");
  EXPECT_TRUE(ui.MemoMessage->isReadOnly());
  EXPECT_TRUE(ui.MemoMessage->font().bold());
  EXPECT_EQ(form.OpenDlg.Filter, "HEX-Files(*.hex)|*.hex");
  // Nothing waits: no answer read, no search.
  EXPECT_FALSE(form.Link.ExchangeBusy());
  EXPECT_FALSE(form.Link.Searching());
}

TEST(MainWindow, WithoutAPortEveryCommandAsksForASearchAndSendsNothing) {
  RecordingDialogs dialogs;
  auto form = NoValidatorForm(dialogs);
  Ui::TMainForm& ui = *form->ui;
  dialogs.errorBoxes.clear();
  for (QPushButton* button :
       {ui.BtnGetStatus, ui.BtnIdentification, ui.BtnGetDescription, ui.BtnStack, ui.BtnReturn,
        ui.BtnHold, ui.BtnReqBarCode, ui.BtnSetParamBarCode, ui.BtnEnableBill, ui.BtnDisableBill,
        ui.BtnSetSecurity, ui.BtnPoll, ui.BtnStartPoll}) {
    dialogs.errorBoxes.clear();
    Click(button);
    EXPECT_EQ(dialogs.errorBoxes, QStringList{"Execute search and reset of the BV!"})
        << button->text().toStdString();
  }
  dialogs.errorBoxes.clear();
  Click(ui.Button2);
  EXPECT_EQ(dialogs.errorBoxes, QStringList{"Execute search and reset of the BV"});
  // Start Poll without a port leaves the controls as they were (and starts no loop, which would
  // hold a confirmed close back: see the end).
  EXPECT_TRUE(ui.BtnGetStatus->isEnabled());
  EXPECT_TRUE(ui.BtnStartPoll->isEnabled());

  // Reset without a port searches by the Reset command and finds nothing either.
  QList<int> positions;
  QObject::connect(ui.ProgBarMain, &QProgressBar::valueChanged,
                   [&](int value) { positions << value; });
  dialogs.errorBoxes.clear();
  Click(ui.BtnResetSoft);
  EXPECT_EQ(dialogs.errorBoxes, QStringList{"The BV is not found!"});
  EXPECT_EQ(positions, (QList<int>{1, 2, 3, 4, 0}));
  EXPECT_EQ(ui.ProgBarMain->maximum(), 4);
  EXPECT_TRUE(ui.BtnResetSoft->isEnabled());
  EXPECT_TRUE(form->MessageLines().isEmpty());
  EXPECT_FALSE(form->Link.IsOpen());
  EXPECT_TRUE(form->close());
}

TEST(MainWindow, TheLogKeeps101LinesAndTheLockCoversItsListOnly) {
  RecordingDialogs dialogs;
  auto form = NoValidatorForm(dialogs);
  Ui::TMainForm& ui = *form->ui;

  for (int i = 1; i <= 100; ++i) form->AddMessage(QString::number(i));
  EXPECT_EQ(form->MessageLines().size(), 100);
  form->AddMessage("101");
  EXPECT_EQ(form->MessageLines().size(), 101);
  EXPECT_EQ(form->MessageLines().first(), "1");
  form->AddMessage("102");
  const QStringList lines = form->MessageLines();
  EXPECT_EQ(lines.size(), 101);
  EXPECT_EQ(lines.first(), "2");
  EXPECT_EQ(lines.last(), "102");

  QWidget* const locked[] = {
      ui.EditEnBillByte1,   ui.EditEnBillByte2,
      ui.EditEnBillByte3,   ui.EditEscBillByte1,
      ui.EditEscBillByte2,  ui.EditEscBillByte3,
      ui.EditSecurityByte1, ui.EditSecurityByte2,
      ui.EditSecurityByte3, ui.CmbBoxRate,
      ui.BtnDisableBill,    ui.BtnDownload,
      ui.BtnEnableBill,     ui.BtnGetDescription,
      ui.BtnGetStatus,      ui.BtnHold,
      ui.BtnIdentification, ui.BtnPoll,
      ui.BtnStartPoll,      ui.BtnReqStat,
      ui.BtnResetSoft,      ui.BtnResetHard,
      ui.BtnReturn,         ui.BtnSetSecurity,
      ui.BtnStack,          ui.BtnSetParamBarCode,
      ui.BtnReqBarCode,     ui.BtnExit,
      ui.Button1,           ui.Button2,
  };
  QWidget* const untouched[] = {ui.CmbBoxPoll, ui.CmbBoxLenghtBarCode, ui.CheckBox1,
                                ui.SpBtnHelp,  ui.SpBtnAbout,          ui.MemoMessage};
  form->SetControlsEnabled(false, false);
  for (QWidget* w : locked) EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  for (QWidget* w : untouched) EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_TRUE(ui.BtnStopPoll->isEnabled());
  EXPECT_FALSE(ui.BtnViewStatistic->isEnabled());  // disabled at start, not touched
  form->SetControlsEnabled(false, true);
  EXPECT_FALSE(ui.BtnStopPoll->isEnabled());
  form->SetControlsEnabled(true, false);
  for (QWidget* w : locked) EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_FALSE(ui.BtnStopPoll->isEnabled());  // only withStopPoll touches it
  form->SetControlsEnabled(true, true);
  EXPECT_TRUE(ui.BtnStopPoll->isEnabled());
  EXPECT_FALSE(ui.BtnViewStatistic->isEnabled());

  // The close query: Cancel keeps the window, OK closes it (with no port there is none to close).
  dialogs.closeAnswer = false;
  Click(ui.BtnExit);
  EXPECT_EQ(dialogs.closeQueries, QStringList{"Close the programm?"});
  EXPECT_TRUE(form->isVisible());
  dialogs.closeAnswer = true;
  EXPECT_TRUE(form->close());
  EXPECT_EQ(dialogs.closeQueries.size(), 2);
  EXPECT_FALSE(form->isVisible());
  // The confirmed close stays confirmed: closing again asks nothing more.
  form->show();
  EXPECT_TRUE(form->close());
  EXPECT_EQ(dialogs.closeQueries.size(), 2);
}

TEST(MainWindow, AboutAndHelpAndTheirScreenshots) {
  RecordingDialogs dialogs;
  auto form = NoValidatorForm(dialogs);
  Ui::TMainForm& ui = *form->ui;
  // A few lines so the screenshot shows the log in use.
  for (const char* line : {"==================================", "Device has found on COM1!",
                           "==================================", "* Idling"}) {
    form->AddMessage(line);
  }

  Click(ui.SpBtnAbout);
  EXPECT_EQ(dialogs.modalTitles, QStringList{"About"});
  ASSERT_NE(form->DlgAbout, nullptr);
  velkor::TDlgAbout& about = *form->DlgAbout;
  EXPECT_EQ(about.ui->ProductName->text(), "ZELNET Controller");
  EXPECT_EQ(about.ui->Version->text(), "Version 2.15");
  EXPECT_TRUE(about.ui->ProductName->font().bold());
  EXPECT_EQ(about.size(), QSize(385, 217));
  EXPECT_FALSE(about.windowFlags() & Qt::WindowMinimizeButtonHint);

  Click(ui.SpBtnHelp);
  ASSERT_NE(form->HelpWindow, nullptr);
  EXPECT_EQ(dialogs.windowTitles.size(), 1);
  EXPECT_TRUE(form->HelpWindow->isVisible());
  const QString help = form->HelpWindow->Browser->toPlainText();
  for (const char* control : {"Bus Reset",
                              "Reset",
                              "Get Status",
                              "Identification",
                              "Get Bill Table",
                              "Stack",
                              "Return",
                              "Hold",
                              "Extract Barcode Data",
                              "Setup Barcode",
                              "Enable Bill Types",
                              "Disable Bill Types",
                              "Set Security",
                              "Request Statistics",
                              "View Statistics",
                              "Baud Rate COM-port",
                              "Download",
                              "CRC32",
                              "Start Poll",
                              "Stop Poll",
                              "Poll",
                              "ACK",
                              "Show Messages",
                              "Exit",
                              "About"}) {
    EXPECT_TRUE(help.contains(QString::fromLatin1(control))) << control;
  }

  const QString dir = QStringLiteral(ZELNET_SCREENSHOT_DIR);
  QDir().mkpath(dir);
  EXPECT_TRUE(form->grab().save(dir + "/velkor_main.png"));
  about.show();
  QTest::qWait(20);
  EXPECT_TRUE(about.grab().save(dir + "/velkor_about.png"));
  about.hide();
  EXPECT_TRUE(form->HelpWindow->grab().save(dir + "/velkor_help.png"));
}

TEST(ProgressBar, ShowsPositionsBeyondTheMaximumAsFull) {
  QProgressBar bar;
  bar.setRange(0, 100);
  velkor::TProgressBarSteps steps(bar);
  steps.SetMax(3);
  steps.SetPosition(0);
  for (int i = 0; i < 5; ++i) steps.Step();
  EXPECT_EQ(steps.Position(), 5);
  EXPECT_EQ(bar.maximum(), 3);
  EXPECT_EQ(bar.value(), 3);
  steps.SetPosition(0);
  EXPECT_EQ(bar.value(), 0);

  // A maximum of 0 (a file under 1000 bytes) shows an empty or full bar, never a busy one.
  steps.SetMax(0);
  EXPECT_GT(bar.maximum(), bar.minimum());
  EXPECT_EQ(bar.value(), 0);
  steps.Step();
  EXPECT_EQ(bar.value(), bar.maximum());
}
