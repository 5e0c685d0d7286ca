// The window's runs in the update history, with a line that hangs up mid-image and a new
// device behind the same name, and a history that cannot be written.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "Commdrv.h"
#include "HexWriter.h"
#include "PortNames.h"
#include "SimSupport.h"
#include "VelkupTestSupport.h"

using namespace velkup;

using namespace velkup::test;
using zelnet::test::HexImage;
using zelnet::test::PatternByte;

namespace {

// The window on COM1, which names a symbolic link to the simulator's pty.
struct WindowHistory : ::testing::Test {
  TempSettings settings;
  ScriptedDialogs dialogs;
  bvsim::Simulator sim{VelkupValidator()};
  QString dataHome = settings.dir.filePath("data");
  QString link = settings.dir.filePath("ttyBench");
  zelnet::test::PortNames names;
  QString file = settings.dir.filePath("firmware.vkf");
  std::unique_ptr<TForm1> form;
  QStringList statuses;

  void SetUp() override {
    ASSERT_TRUE(sim.Start());
    Relink();
    names.Set(1, link.toStdString());
    qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
    form = std::make_unique<TForm1>(&dialogs);
    QObject::connect(form.get(), &TForm1::StatusChanged,
                     [this](const QString& s) { statuses << s; });
    form->show();
    form->findChild<QLineEdit*>("EditFileName")->setText(file);
    form->findChild<QCheckBox*>("CheckBoxSendEncryption")->setChecked(true);
    form->findChild<QCheckBox*>("CheckBoxSendBVImage")->setChecked(true);
    std::ofstream(file.toStdString()) << HexImage(0xB000, 0x1B000);
  }
  void TearDown() override { qunsetenv("XDG_DATA_HOME"); }
  void Relink() {
    std::filesystem::remove(link.toStdString());
    std::filesystem::create_symlink(sim.SlavePath(), link.toStdString());
  }
  void ClickStart() {
    QTest::mouseClick(form->findChild<QPushButton*>("ButtonStart"), Qt::LeftButton);
  }
  QList<QJsonObject> History() const { return ReadHistory(dataHome); }
};

}  // namespace

TEST_F(WindowHistory, EveryRunAppendsOneLineThatTellsWhatWasWritten) {
  ClickStart();
  ASSERT_EQ(statuses.back(), "Ready");
  form->findChild<QComboBox*>("ComboBoxBVType")->setCurrentIndex(1);
  form->findChild<QComboBox*>("ComboBoxBaudRate")->setCurrentIndex(1);
  form->findChild<QCheckBox*>("CheckBoxSendBVImage")->setChecked(false);
  ClickStart();

  const auto history = History();
  ASSERT_EQ(history.size(), 2);
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QString sha = QString::fromLatin1(
      QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
  const QJsonObject& first = history[0];
  EXPECT_EQ(first["program"].toString(), "velkup");
  EXPECT_EQ(first["port"].toString(), "COM1");
  EXPECT_EQ(first["family"].toString(), "qa");
  EXPECT_EQ(first["baud"].toInt(), 9600);
  EXPECT_EQ(first["file"].toString(), file);
  EXPECT_EQ(first["sha256"].toString(), sha);
  EXPECT_EQ(first["images"].toArray(), (QJsonArray{"encryption", "bvcontrol"}));
  const QJsonArray outcome = first["outcome"].toArray();
  ASSERT_EQ(outcome.size(), 2);
  EXPECT_EQ(outcome[1].toObject()["name"].toString(), "bvcontrol");
  EXPECT_EQ(outcome[1].toObject()["blocks_written"].toInt(), 224);
  EXPECT_EQ(outcome[1].toObject()["result"].toString(), "ok");
  EXPECT_GT(first["seconds"].toDouble(), 0);
  EXPECT_LE(QDateTime::fromString(first["time"].toString(), Qt::ISODateWithMs),
            QDateTime::currentDateTimeUtc());
  EXPECT_EQ(history[1]["family"].toString(), "qb");
  EXPECT_EQ(history[1]["baud"].toInt(), 19200);
  EXPECT_EQ(history[1]["images"].toArray(), (QJsonArray{"encryption"}));
  // A file refused before anything is sent is no run on the line.
  std::ofstream(file.toStdString()) << ":ZZ\r\n";
  ClickStart();
  EXPECT_EQ(History().size(), 2);
}

TEST_F(WindowHistory, AHungUpLineAbandonsTheImageAndANewDeviceBehindTheNameGetsTheNext) {
  bvsim::Fault drop;
  drop.kind = bvsim::Fault::DropLine;
  drop.command = 0x50;
  drop.subCommand = 0x02;
  drop.blockAddress = 0xB300;
  sim.InjectFault(drop);
  // The adapter comes back while the window shows the failure.
  QObject::connect(form.get(), &TForm1::StatusChanged, [this](const QString& s) {
    if (s == "Error write data..." && sim.LineDropped() && !sim.Running()) {
      sim.ClearFaults();
      ASSERT_TRUE(sim.Start());
      Relink();
    }
  });
  ClickStart();
  EXPECT_EQ(statuses.back(), "Error write data...");
  EXPECT_TRUE(statuses.contains("Wait... Writing BV Control Image Data: 100%"));
  const auto fw = sim.Firmware();
  EXPECT_EQ(fw[0xB2FF], PatternByte(0xB2FF));
  EXPECT_EQ(fw[0xB300], 0xFF);
  for (uint32_t a = 0xD000; a < 0x1B000; a += 0x7FF) EXPECT_EQ(fw[a], PatternByte(a));
  const auto before = FramesBeforeMark(sim, "COM1");  // the port is free again
  ASSERT_TRUE(before);
  EXPECT_EQ(Commands(*before).back(), "50 03");

  const auto history = History();
  ASSERT_EQ(history.size(), 1);
  const QJsonObject enc = history[0]["outcome"].toArray()[0].toObject();
  EXPECT_EQ(enc["result"].toString(), "failed");
  EXPECT_EQ(enc["reason"].toString(), "port lost");
  EXPECT_EQ(enc["failed_block_address"].toInt(), 0xB300);
  EXPECT_EQ(enc["blocks_written"].toInt(), 3);
  EXPECT_EQ(history[0]["outcome"].toArray()[1].toObject()["result"].toString(), "ok");
}

TEST_F(WindowHistory, AHistoryThatCannotBeWrittenLeavesTheUpdateAlone) {
  std::ofstream(dataHome.toStdString()) << "a file where the folder should be";
  ClickStart();
  EXPECT_EQ(statuses.back(), "Ready");
  EXPECT_TRUE(dialogs.errors.isEmpty());
  EXPECT_EQ(Commands(sim.ReceivedFrames()).back(), "50 03");
  EXPECT_TRUE(form->findChild<QPushButton*>("ButtonStart")->isEnabled());
}
