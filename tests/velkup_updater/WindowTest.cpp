// TForm1 offscreen: its controls, its settings round trip, the file dialog, Start and closing
// during a run.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fstream>

#include "Commdrv.h"
#include "SimOnPort.h"
#include "SimSupport.h"
#include "UpdateSequence.h"
#include "VelkupTestSupport.h"

using namespace velkup;

using namespace velkup::test;

namespace {

// The percentage at the end of a "Wait... Writing ... Image Data: N%" status text, or -1.
int Percent(const QString& status) {
  const qsizetype colon = status.lastIndexOf(QStringLiteral(": "));
  if (colon < 0 || !status.endsWith(QLatin1Char('%'))) return -1;
  bool ok = false;
  const int value = status.mid(colon + 2, status.size() - colon - 3).toInt(&ok);
  return ok ? value : -1;
}

template <class W>
W* Get(QWidget& form, const char* name) {
  W* w = form.findChild<W*>(name);
  if (!w) ADD_FAILURE() << "no control " << name;
  return w;
}

QRect Geometry(QWidget& form, const char* name) {
  return Get<QWidget>(form, name)->geometry();
}

struct Window : ::testing::Test {
  TempSettings settings;
  ScriptedDialogs dialogs;
};

}  // namespace

TEST_F(Window, ControlsStandAsLaidOutWithTheirCaptionsAndFirstStartState) {
  TForm1 form(&dialogs);
  form.show();
  EXPECT_EQ(form.windowTitle(), "Velkup v2.0.0");
  EXPECT_EQ(form.size(), QSize(529, 233));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(form.font().family(), "MS Sans Serif");
  EXPECT_EQ(form.font().pointSize(), 8);

  struct {
    const char* name;
    QRect rect;
  } layout[] = {
      {"GroupBox2", {8, 8, 513, 49}},
      {"EditFileName", {8, 16, 449, 21}},
      {"ButtonOpenFile", {464, 16, 41, 25}},
      {"GroupBox4", {8, 64, 169, 57}},
      {"ComboBoxBVType", {64, 24, 89, 21}},
      {"GroupBox3", {192, 64, 329, 57}},
      {"CheckBoxSendEncryption", {32, 24, 81, 17}},
      {"CheckBoxSendBVImage", {136, 24, 81, 17}},
      {"CheckBoxSendValidation", {240, 24, 81, 17}},
      {"GroupBox1", {8, 128, 513, 57}},
      {"ComboBoxComPort", {312, 24, 89, 21}},
      {"ComboBoxBaudRate", {416, 24, 81, 21}},
      {"ButtonStart", {408, 192, 113, 33}},
  };
  for (const auto& c : layout) EXPECT_EQ(Geometry(form, c.name), c.rect) << c.name;
  EXPECT_EQ(Geometry(form, "Label1").topLeft(), QPoint(312, 8));
  EXPECT_EQ(Geometry(form, "Label2").topLeft(), QPoint(416, 8));
  EXPECT_EQ(Geometry(form, "LabelStatus").topLeft(), QPoint(16, 208));

  EXPECT_EQ(Get<QGroupBox>(form, "GroupBox2")->title(), "File");
  EXPECT_EQ(Get<QGroupBox>(form, "GroupBox4")->title(), "BV Type");
  EXPECT_EQ(Get<QGroupBox>(form, "GroupBox3")->title(), "Images To Send");
  EXPECT_EQ(Get<QGroupBox>(form, "GroupBox1")->title(), "Com Port");
  EXPECT_EQ(Get<QPushButton>(form, "ButtonOpenFile")->text(), "Open");
  EXPECT_EQ(Get<QPushButton>(form, "ButtonStart")->text(), "Start");
  EXPECT_EQ(Get<QLabel>(form, "Label1")->text(), "Name");
  EXPECT_EQ(Get<QLabel>(form, "Label2")->text(), "BaudRate");
  EXPECT_EQ(Get<QCheckBox>(form, "CheckBoxSendEncryption")->text(), "Encryption");
  EXPECT_EQ(Get<QCheckBox>(form, "CheckBoxSendBVImage")->text(), "BV Control");
  EXPECT_EQ(Get<QCheckBox>(form, "CheckBoxSendValidation")->text(), "Validation");
  EXPECT_EQ(Get<QGroupBox>(form, "GroupBox3"), Get<QWidget>(form, "CheckBoxSendBVImage")->parent());
  EXPECT_EQ(Get<QGroupBox>(form, "GroupBox1"), Get<QWidget>(form, "ComboBoxBaudRate")->parent());

  auto* bv = Get<QComboBox>(form, "ComboBoxBVType");
  auto* port = Get<QComboBox>(form, "ComboBoxComPort");
  auto* baud = Get<QComboBox>(form, "ComboBoxBaudRate");
  EXPECT_TRUE(bv->isEditable());
  EXPECT_FALSE(port->isEditable());
  EXPECT_FALSE(baud->isEditable());
  ASSERT_EQ(bv->count(), 2);
  EXPECT_EQ(bv->itemText(1), "QB, QC");
  ASSERT_EQ(port->count(), 8);
  EXPECT_EQ(port->itemText(7), "COM8");
  ASSERT_EQ(baud->count(), 2);
  EXPECT_EQ(baud->itemText(1), "19200");

  // First start without stored settings.
  EXPECT_EQ(bv->currentText(), "QA");
  EXPECT_EQ(port->currentText(), "COM1");
  EXPECT_EQ(baud->currentText(), "9600");
  EXPECT_TRUE(Get<QLineEdit>(form, "EditFileName")->text().isEmpty());
  for (const char* c : {"CheckBoxSendEncryption", "CheckBoxSendBVImage", "CheckBoxSendValidation"})
    EXPECT_FALSE(Get<QCheckBox>(form, c)->isChecked()) << c;
  EXPECT_TRUE(Get<QPushButton>(form, "ButtonStart")->isEnabled());
  EXPECT_EQ(Get<QLabel>(form, "LabelStatus")->text(), "Ready");
  EXPECT_TRUE(QFile::exists(settings.FilePath()));  // the key is created
  EXPECT_TRUE(dialogs.errors.isEmpty());

  // The driver belongs to the window, polls every 500 ms and is closed.
  const auto* drv = form.findChild<TCommDrv*>("CommDrv1");
  ASSERT_NE(drv, nullptr);
  EXPECT_EQ(drv->PollingDelay(), 500);
  EXPECT_FALSE(drv->Connected());

  // Tab order: Com Port group, File group, Start, Images To Send group, BV Type group.
  const QStringList expected = {
      "ComboBoxComPort", "ComboBoxBaudRate",       "EditFileName",        "ButtonOpenFile",
      "ButtonStart",     "CheckBoxSendEncryption", "CheckBoxSendBVImage", "CheckBoxSendValidation",
      "ComboBoxBVType"};
  QStringList order;
  QWidget* w = port;
  do {
    if (expected.contains(w->objectName()) && !order.contains(w->objectName()))
      order << w->objectName();
    w = w->nextInFocusChain();
  } while (w != port);
  EXPECT_EQ(order, expected);
}

TEST_F(Window, SettingsRoundTripThroughTheUsersConfiguration) {
  {
    TForm1 form(&dialogs);
    Get<QComboBox>(form, "ComboBoxComPort")->setCurrentIndex(3);
    Get<QComboBox>(form, "ComboBoxBaudRate")->setCurrentIndex(1);
    Get<QComboBox>(form, "ComboBoxBVType")->setCurrentIndex(1);
    Get<QLineEdit>(form, "EditFileName")->setText("/tmp/firmware, v2.vkf");
    Get<QCheckBox>(form, "CheckBoxSendBVImage")->setChecked(true);
    form.show();
    EXPECT_TRUE(form.close());
  }
  {
    QSettings s = TempSettings::Open();
    EXPECT_EQ(s.value("ComPort").toInt(), 3);
    EXPECT_EQ(s.value("BaudRate").toInt(), 1);
    EXPECT_EQ(s.value("BVType").toInt(), 1);
    EXPECT_EQ(s.value("FileAddress").toString(), "/tmp/firmware, v2.vkf");
    EXPECT_EQ(s.value("Send Encryption").toInt(), 0);
    EXPECT_EQ(s.value("Send BVControl").toInt(), 1);
    EXPECT_EQ(s.value("Send Validation").toInt(), 0);
  }
  TForm1 form(&dialogs);
  EXPECT_EQ(Get<QComboBox>(form, "ComboBoxComPort")->currentText(), "COM4");
  EXPECT_EQ(Get<QComboBox>(form, "ComboBoxBaudRate")->currentText(), "19200");
  EXPECT_EQ(Get<QComboBox>(form, "ComboBoxBVType")->currentText(), "QB, QC");
  EXPECT_EQ(Get<QLineEdit>(form, "EditFileName")->text(), "/tmp/firmware, v2.vkf");
  EXPECT_TRUE(Get<QCheckBox>(form, "CheckBoxSendBVImage")->isChecked());
  EXPECT_FALSE(Get<QCheckBox>(form, "CheckBoxSendValidation")->isChecked());

  // Typed text that is no entry leaves the BV Type without a selection: stored as -1, and an
  // empty file name as an empty string.
  auto* bv = Get<QComboBox>(form, "ComboBoxBVType");
  bv->setFocus();
  bv->lineEdit()->selectAll();
  QTest::keyClicks(bv->lineEdit(), "QZ");
  Get<QLineEdit>(form, "EditFileName")->clear();
  form.show();
  form.close();
  QSettings s = TempSettings::Open();
  EXPECT_EQ(s.value("BVType").toInt(), -1);
  EXPECT_TRUE(s.contains("FileAddress"));
  EXPECT_EQ(s.value("FileAddress").toString(), "");
  EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(Window, StoredValuesOutsideTheBoxesOrOfTheWrongTypeAreHandled) {
  {
    QSettings s = TempSettings::Open();
    s.setValue("ComPort", 11);       // no such entry: nothing selected
    s.setValue("BaudRate", "fast");  // not an integer
    s.setValue("BVType", -1);
    s.setValue("FileAddress", QStringList{"a", "b"});  // not one string
    s.setValue("Send Encryption", "1.5");
    s.setValue("Send Validation", 7);
    s.setValue("Send BVControl", "0");
  }
  TForm1 form(&dialogs);
  EXPECT_EQ(dialogs.errors,
            (QStringList{"Invalid data type for 'BaudRate'", "Invalid data type for 'FileAddress'",
                         "Invalid data type for 'Send Encryption'"}));
  EXPECT_EQ(Get<QComboBox>(form, "ComboBoxComPort")->currentIndex(), -1);
  EXPECT_EQ(Get<QComboBox>(form, "ComboBoxBaudRate")->currentText(), "9600");
  EXPECT_EQ(Get<QComboBox>(form, "ComboBoxBVType")->currentIndex(), -1);
  EXPECT_EQ(Get<QComboBox>(form, "ComboBoxBVType")->currentText(), "");
  EXPECT_TRUE(Get<QCheckBox>(form, "CheckBoxSendValidation")->isChecked());
  EXPECT_FALSE(Get<QCheckBox>(form, "CheckBoxSendEncryption")->isChecked());
  EXPECT_EQ(Get<QLabel>(form, "LabelStatus")->text(), "Ready");
  EXPECT_EQ(form.findChild<TCommDrv*>("CommDrv1")->PollingDelay(), 500);

  form.show();
  form.close();
  QSettings s = TempSettings::Open();
  EXPECT_EQ(s.value("Send Validation").toInt(), 1);
  EXPECT_EQ(s.value("ComPort").toInt(), -1);
  EXPECT_EQ(s.value("BaudRate").toInt(), 0);
}

TEST_F(Window, OpenDialogOffersBothFiltersAndKeepsTheNameOnCancel) {
  TForm1 form(&dialogs);
  auto* edit = Get<QLineEdit>(form, "EditFileName");
  edit->setText("/old/image.vkf");
  dialogs.chosenFile.clear();
  QTest::mouseClick(Get<QPushButton>(form, "ButtonOpenFile"), Qt::LeftButton);
  EXPECT_EQ(edit->text(), "/old/image.vkf");
  EXPECT_EQ(dialogs.filtersSeen, (QStringList{"VKF - Files (*.vkf)", "HEX - Files (*.hex)"}));
  EXPECT_EQ(dialogs.suffixSeen, "vkf");
  EXPECT_EQ(dialogs.selectedFilterSeen, "VKF - Files (*.vkf)");
  EXPECT_EQ(dialogs.fileModeSeen, QFileDialog::ExistingFile);

  dialogs.chosenFile = settings.dir.filePath("new.hex");
  QTest::mouseClick(Get<QPushButton>(form, "ButtonOpenFile"), Qt::LeftButton);
  EXPECT_EQ(edit->text(), settings.dir.filePath("new.hex"));
}

TEST_F(Window, ClosingDuringARunAsksAndStopsAfterTheBlockInFlight) {
  zelnet::test::SimOnPort simPort(VelkupValidator(), {2});
  ASSERT_TRUE(simPort.Started());
  bvsim::Simulator& sim = simPort.sim;
  sim.ScriptPollAnswers({{0x19}});
  const QString file = settings.dir.filePath("image.vkf");
  std::ofstream(file.toStdString()) << ":00000001FF\n";

  TForm1 form(&dialogs);
  form.show();
  Get<QLineEdit>(form, "EditFileName")->setText(file);
  Get<QComboBox>(form, "ComboBoxComPort")->setCurrentIndex(1);
  Get<QCheckBox>(form, "CheckBoxSendValidation")->setChecked(true);
  auto* status = Get<QLabel>(form, "LabelStatus");

  // The first close is declined, the second confirmed; both come in the middle of Validation.
  int closes = 0;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (!status->text().startsWith("Wait... Writing Validation")) return;
    if (closes == 0) {
      dialogs.confirmAnswer = false;
      EXPECT_FALSE(form.close());
      ++closes;
    } else if (closes == 1 && Percent(status->text()) >= 2) {
      // Any later status will do: the timer may miss a given percentage on a busy machine.
      dialogs.confirmAnswer = true;
      EXPECT_FALSE(form.close());  // closes once the block in flight is done
      ++closes;
    }
  });
  closer.start(1);
  QTest::mouseClick(Get<QPushButton>(form, "ButtonStart"), Qt::LeftButton);
  closer.stop();

  EXPECT_EQ(dialogs.confirms, 2);
  EXPECT_FALSE(form.isVisible());
  // The port is free again, and the block in flight was the last frame before the test's mark.
  const auto before = FramesBeforeMark(sim, "COM2");
  ASSERT_TRUE(before);
  const auto& frames = *before;
  const size_t blocks = BlockAddresses(frames).size();
  EXPECT_GT(blocks, 0u);
  EXPECT_LT(blocks, 1616u);
  EXPECT_TRUE(IsBlock(frames.back()));  // the block in flight was the last frame
  QSettings s = TempSettings::Open();
  EXPECT_EQ(s.value("ComPort").toInt(), 1);
  EXPECT_EQ(s.value("Send Validation").toInt(), 1);
}
