// The main window without a validator: controls, defaults, the log, the control lock, the close
// query, About and Help; and the screenshots of the three windows (saved in the build folder).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include "ConsoleRig.h"
#include "ProgressBarSteps.h"

using namespace velkor::test;
using velkor::TMainForm;

namespace {

// The window as it opens with no validator on any port (the ports stay absent while it lives).
struct NoValidatorForm {
  explicit NoValidatorForm(RecordingDialogs& dialogs)
      : form(std::make_unique<TMainForm>(TMainForm::Setup{&dialogs, {}})) {
    form->show();
  }
  TMainForm* operator->() const { return form.get(); }
  TMainForm& operator*() const { return *form; }
  QPushButton* operator()(const char* name) const { return Control(*form, name); }
  template <class T>
  T* Find(const char* name) const {
    return Control<T>(*form, name);
  }

  PortNames ports{std::vector<std::string>{}};
  std::unique_ptr<TMainForm> form;
};

QStringList Items(const QComboBox* box) {
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

}  // namespace

TEST(MainWindow, OpensAfterAFailedSearchWithEveryControlAtItsDefault) {
  RecordingDialogs dialogs;
  PortNames ports{std::vector<std::string>{}};
  QElapsedTimer clock;
  clock.start();
  auto formPtr = std::make_unique<TMainForm>(TMainForm::Setup{&dialogs, {}});
  // Four ports that cannot be opened cost four blocking 300 ms pauses.
  EXPECT_GE(clock.elapsed(), 1100);
  TMainForm& form = *formPtr;
  const auto button = [&form](const char* name) { return Control(form, name); };

  // The search ran before the window was first shown: its box, an empty log, no port.
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(dialogs.errorBoxes, QStringList{"BV hasn't found!"});
  EXPECT_TRUE(LogLines(form).isEmpty());
  EXPECT_TRUE(button("BtnStartPoll")->isEnabled());  // no poll loop holds the controls
  EXPECT_TRUE(dialogs.closeQueries.isEmpty());       // no close asked for, none confirmed
  EXPECT_EQ(Control<QProgressBar>(form, "ProgBarMain")->value(), 0);

  EXPECT_EQ(form.windowTitle(), "ZELNET Controller for Bill Validator");
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_NEAR(form.width(), 826, 60);
  EXPECT_NEAR(form.height(), 639, 60);

  const std::pair<const char*, const char*> captions[] = {
      {"CheckBox1", "Show Messages"},
      {"BtnExit", "Exit"},
      {"BtnResetHard", "Bus Reset"},
      {"BtnResetSoft", "Reset"},
      {"BtnGetStatus", "Get Status"},
      {"BtnIdentification", "Identification"},
      {"BtnGetDescription", "Get Bill Table"},
      {"BtnStack", "Stack"},
      {"BtnReturn", "Return"},
      {"BtnHold", "Hold"},
      {"BtnReqBarCode", "Extract Barcode Data"},
      {"BtnSetParamBarCode", "Setup Barcode"},
      {"BtnEnableBill", "Enable Bill Types"},
      {"BtnDisableBill", "Disable Bill Types"},
      {"BtnSetSecurity", "Set Security"},
      {"BtnReqStat", "Request Statistics"},
      {"BtnViewStatistic", "View Statistics"},
      {"BtnDownload", "Download"},
      {"Button1", "CRC32"},
      {"BtnPoll", "Poll"},
      {"BtnStartPoll", "Start Poll"},
      {"BtnStopPoll", "Stop Poll"},
      {"Button2", "ACK"},
  };
  for (const auto& [name, caption] : captions) {
    const QAbstractButton* button = Control<QAbstractButton>(form, name);
    EXPECT_EQ(button->text(), caption);
    EXPECT_EQ(button->isEnabled(), std::string(name) != "BtnViewStatistic") << caption;
  }
  EXPECT_FALSE(Control<QCheckBox>(form, "CheckBox1")->isChecked());
  for (const char* name : {"SpBtnHelp", "SpBtnAbout"}) {
    EXPECT_FALSE(Control<QToolButton>(form, name)->icon().isNull()) << name;
  }

  const auto box = [&form](const char* name) { return Control<QComboBox>(form, name); };
  EXPECT_EQ(Items(box("CmbBoxPoll")), (QStringList{"Return", "Stack"}));
  EXPECT_EQ(box("CmbBoxPoll")->currentText(), "Return");
  EXPECT_EQ(Items(box("CmbBoxRate")), (QStringList{"9600", "19200"}));
  EXPECT_EQ(box("CmbBoxRate")->currentText(), "9600");
  EXPECT_EQ(Items(box("CmbBoxLenghtBarCode")),
            (QStringList{"6 numbers", "8 numbers", "10 numbers", "12 numbers", "14 numbers",
                         "16 numbers", "18 numbers"}));
  EXPECT_EQ(box("CmbBoxLenghtBarCode")->currentText(), "18 numbers");
  for (const char* name : {"CmbBoxPoll", "CmbBoxRate", "CmbBoxLenghtBarCode"}) {
    EXPECT_TRUE(box(name)->isEditable()) << name;
  }

  const std::pair<const char*, const char*> edits[] = {
      {"EditEnBillByte1", "11111111"},   {"EditEnBillByte2", "11111111"},
      {"EditEnBillByte3", "11111111"},   {"EditEscBillByte1", "00000000"},
      {"EditEscBillByte2", "00000000"},  {"EditEscBillByte3", "00000000"},
      {"EditSecurityByte1", "00000000"}, {"EditSecurityByte2", "00000000"},
      {"EditSecurityByte3", "00000000"},
  };
  for (const auto& [name, text] : edits) {
    const QLineEdit* edit = Control<QLineEdit>(form, name);
    EXPECT_EQ(edit->text(), text);
    EXPECT_EQ(edit->maxLength(), 8);
  }
  const auto group = [&form](const char* name) { return Control<QGroupBox>(form, name); };
  EXPECT_EQ(group("GroupBoxEnBill")->title(), "Bill Types");
  EXPECT_EQ(group("GroupBoxEscBill")->title(), "Bill Types With Escrow");
  EXPECT_EQ(group("GroupBoxSecurity")->title(), "Bill Types");
  EXPECT_TRUE(group("GroupBoxEnBill")->isAncestorOf(Control<QLineEdit>(form, "EditEnBillByte1")));
  EXPECT_TRUE(group("GroupBoxEscBill")->isAncestorOf(Control<QLineEdit>(form, "EditEscBillByte3")));
  EXPECT_TRUE(
      group("GroupBoxSecurity")->isAncestorOf(Control<QLineEdit>(form, "EditSecurityByte2")));
  EXPECT_EQ(Control<QLabel>(form, "LabelRate")->text(), "Baud Rate COM-port");
  EXPECT_TRUE(Control<QPlainTextEdit>(form, "MemoMessage")->isReadOnly());
  EXPECT_TRUE(Control<QPlainTextEdit>(form, "MemoMessage")->font().bold());
}

TEST(MainWindow, WithoutAPortEveryCommandAsksForASearchAndSendsNothing) {
  RecordingDialogs dialogs;
  NoValidatorForm form(dialogs);
  dialogs.errorBoxes.clear();
  for (const char* name :
       {"BtnGetStatus", "BtnIdentification", "BtnGetDescription", "BtnStack", "BtnReturn",
        "BtnHold", "BtnReqBarCode", "BtnSetParamBarCode", "BtnEnableBill", "BtnDisableBill",
        "BtnSetSecurity", "BtnPoll", "BtnStartPoll"}) {
    dialogs.errorBoxes.clear();
    Click(form(name));
    EXPECT_EQ(dialogs.errorBoxes, QStringList{"Execute search and reset of the BV!"}) << name;
  }
  dialogs.errorBoxes.clear();
  Click(form("Button2"));
  EXPECT_EQ(dialogs.errorBoxes, QStringList{"Execute search and reset of the BV"});
  // Start Poll without a port leaves the controls as they were (and starts no loop, which would
  // hold a confirmed close back: see the end).
  EXPECT_TRUE(form("BtnGetStatus")->isEnabled());
  EXPECT_TRUE(form("BtnStartPoll")->isEnabled());

  // Reset without a port searches by the Reset command and finds nothing either: the port stays
  // closed, so a command still asks for a search.
  QProgressBar* progress = form.Find<QProgressBar>("ProgBarMain");
  QList<int> positions;
  QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) { positions << value; });
  dialogs.errorBoxes.clear();
  Click(form("BtnResetSoft"));
  EXPECT_EQ(dialogs.errorBoxes, QStringList{"The BV is not found!"});
  EXPECT_EQ(positions, (QList<int>{1, 2, 3, 4, 0}));
  EXPECT_EQ(progress->maximum(), 4);
  EXPECT_TRUE(form("BtnResetSoft")->isEnabled());
  EXPECT_TRUE(LogLines(*form).isEmpty());
  dialogs.errorBoxes.clear();
  Click(form("BtnGetStatus"));
  EXPECT_EQ(dialogs.errorBoxes, QStringList{"Execute search and reset of the BV!"});
  EXPECT_TRUE(form->close());
}

TEST(MainWindow, TheLogKeeps101LinesAndTheLockCoversItsListOnly) {
  RecordingDialogs dialogs;
  NoValidatorForm form(dialogs);

  for (int i = 1; i <= 100; ++i) form->AddMessage(QString::number(i));
  EXPECT_EQ(LogLines(*form).size(), 100);
  form->AddMessage("101");
  EXPECT_EQ(LogLines(*form).size(), 101);
  EXPECT_EQ(LogLines(*form).first(), "1");
  form->AddMessage("102");
  const QStringList lines = LogLines(*form);
  EXPECT_EQ(lines.size(), 101);
  EXPECT_EQ(lines.first(), "2");
  EXPECT_EQ(lines.last(), "102");

  std::vector<QWidget*> locked;
  for (const char* name : {"EditEnBillByte1",   "EditEnBillByte2",
                           "EditEnBillByte3",   "EditEscBillByte1",
                           "EditEscBillByte2",  "EditEscBillByte3",
                           "EditSecurityByte1", "EditSecurityByte2",
                           "EditSecurityByte3", "CmbBoxRate",
                           "BtnDisableBill",    "BtnDownload",
                           "BtnEnableBill",     "BtnGetDescription",
                           "BtnGetStatus",      "BtnHold",
                           "BtnIdentification", "BtnPoll",
                           "BtnStartPoll",      "BtnReqStat",
                           "BtnResetSoft",      "BtnResetHard",
                           "BtnReturn",         "BtnSetSecurity",
                           "BtnStack",          "BtnSetParamBarCode",
                           "BtnReqBarCode",     "BtnExit",
                           "Button1",           "Button2"}) {
    locked.push_back(form.Find<QWidget>(name));
  }
  std::vector<QWidget*> untouched;
  for (const char* name : {"CmbBoxPoll", "CmbBoxLenghtBarCode", "CheckBox1", "SpBtnHelp",
                           "SpBtnAbout", "MemoMessage"}) {
    untouched.push_back(form.Find<QWidget>(name));
  }
  QPushButton* stopPoll = form("BtnStopPoll");
  QPushButton* viewStatistic = form("BtnViewStatistic");
  form->SetControlsEnabled(false, false);
  for (QWidget* w : locked) EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  for (QWidget* w : untouched) EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_TRUE(stopPoll->isEnabled());
  EXPECT_FALSE(viewStatistic->isEnabled());  // disabled at start, not touched
  form->SetControlsEnabled(false, true);
  EXPECT_FALSE(stopPoll->isEnabled());
  form->SetControlsEnabled(true, false);
  for (QWidget* w : locked) EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_FALSE(stopPoll->isEnabled());  // only withStopPoll touches it
  form->SetControlsEnabled(true, true);
  EXPECT_TRUE(stopPoll->isEnabled());
  EXPECT_FALSE(viewStatistic->isEnabled());

  // The close query: Cancel keeps the window, OK closes it (with no port there is none to close).
  dialogs.closeAnswer = false;
  Click(form("BtnExit"));
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
  NoValidatorForm form(dialogs);
  // A few lines so the screenshot shows the log in use.
  for (const char* line : {"==================================", "Device has found on COM1!",
                           "==================================", "* Idling"}) {
    form->AddMessage(line);
  }

  Click(form.Find<QToolButton>("SpBtnAbout"));
  EXPECT_EQ(dialogs.modalTitles, QStringList{"About"});
  ASSERT_NE(dialogs.lastModal, nullptr);
  QDialog& about = *dialogs.lastModal;
  EXPECT_EQ(Control<QLabel>(about, "ProductName")->text(), "ZELNET Controller");
  EXPECT_EQ(Control<QLabel>(about, "Version")->text(), "Version 2.15");
  EXPECT_TRUE(Control<QLabel>(about, "ProductName")->font().bold());
  EXPECT_EQ(about.size(), QSize(385, 217));
  EXPECT_FALSE(about.windowFlags() & Qt::WindowMinimizeButtonHint);

  Click(form.Find<QToolButton>("SpBtnHelp"));
  ASSERT_NE(dialogs.lastWindow, nullptr);
  QWidget& helpWindow = *dialogs.lastWindow;
  EXPECT_EQ(dialogs.windowTitles.size(), 1);
  EXPECT_TRUE(helpWindow.isVisible());
  const QString help = Control<QTextBrowser>(helpWindow, "Browser")->toPlainText();
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
  EXPECT_TRUE(helpWindow.grab().save(dir + "/velkor_help.png"));
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
