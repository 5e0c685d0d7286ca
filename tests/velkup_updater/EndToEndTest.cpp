// Whole updates against bvsim on a pseudo-terminal: the window clicked offscreen, or the
// sequence alone where only the line matters.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "Commdrv.h"
#include "HexWriter.h"
#include "SimOnPort.h"
#include "SimSupport.h"
#include "UpdateSequence.h"
#include "VelkupTestSupport.h"

using namespace velkup;

using zelnet::test::HexImage;
using zelnet::test::PatternByte;

using namespace velkup::test;

namespace {

using namespace std::chrono_literals;

// The window against a running simulator attached as COM1.
struct WindowUpdate : ::testing::Test {
  TempSettings settings;
  ScriptedDialogs dialogs;
  zelnet::test::SimOnPort simPort{VelkupValidator(), {1, 3}};
  bvsim::Simulator& sim = simPort.sim;
  QString file = settings.dir.filePath("firmware.vkf");
  std::unique_ptr<TForm1> form;
  QStringList statuses;

  void SetUp() override {
    ASSERT_TRUE(simPort.Started());
    form = std::make_unique<TForm1>(&dialogs);
    QObject::connect(form.get(), &TForm1::StatusChanged,
                     [this](const QString& s) { statuses << s; });
    form->show();
    Control<QLineEdit>("EditFileName")->setText(file);
  }

  template <class W>
  W* Control(const char* name) {
    return form->findChild<W*>(name);
  }
  void Check(bool encryption, bool bvControl, bool validation) {
    Control<QCheckBox>("CheckBoxSendEncryption")->setChecked(encryption);
    Control<QCheckBox>("CheckBoxSendBVImage")->setChecked(bvControl);
    Control<QCheckBox>("CheckBoxSendValidation")->setChecked(validation);
  }
  void ClickStart() { QTest::mouseClick(Control<QPushButton>("ButtonStart"), Qt::LeftButton); }
  QString Status() { return statuses.isEmpty() ? QString() : statuses.back(); }
  QStringList StatusesOf(const char* image) {
    return statuses.filter(QStringLiteral("Wait... Writing %1 Image Data: ").arg(image));
  }
};

// The image written in the tests: parts of every window with gaps between them, bytes below
// 0xB000 and from 0x80000 on that are never sent, and end records that do not end the load.
std::string TestImage() {
  return HexImage(0x9000, 0xB010) + HexImage(0xB400, 0xC000) + HexImage(0xCF00, 0x14000) +
         HexImage(0x30000, 0x31000) + HexImage(0x7FF80, 0x80100);
}

std::vector<uint8_t> ExpectedFirmware(uint32_t size) {
  std::vector<uint8_t> m(size, 0xFF);
  for (auto [first, end] : {std::pair<uint32_t, uint32_t>{0xB000, 0xB010},
                            {0xB400, 0xC000},
                            {0xCF00, 0x14000},
                            {0x30000, 0x31000},
                            {0x7FF80, 0x80000}})
    for (uint32_t a = first; a < end; ++a) m[a] = PatternByte(a);
  return m;
}

}  // namespace

TEST_F(WindowUpdate, BothFamiliesGetEveryImageByteExact) {
  std::ofstream(file.toStdString()) << TestImage();
  Check(true, true, true);
  for (int family : {0, 1}) {
    SCOPED_TRACE(family);
    const uint8_t address = family == 0 ? 0x01 : 0x03;
    sim.ClearReceived();
    sim.PowerCycle(0x10);
    statuses.clear();
    Control<QComboBox>("ComboBoxBVType")->setCurrentIndex(family);
    // COM1 at 9600 for one family, COM3 (the same simulator) at 19200 for the other.
    Control<QComboBox>("ComboBoxComPort")->setCurrentIndex(family * 2);
    Control<QComboBox>("ComboBoxBaudRate")->setCurrentIndex(family);
    // The line's speed as the simulator sees it while the port is open.
    unsigned baud = 0;
    const auto sample =
        QObject::connect(form.get(), &TForm1::StatusChanged, [&](const QString& text) {
          if (text.startsWith("Wait... Switching")) baud = sim.LineBaud();
        });
    ClickStart();
    QObject::disconnect(sample);
    EXPECT_EQ(baud, family == 0 ? 9600u : 19200u);
    EXPECT_EQ(Status(), "Ready");
    EXPECT_TRUE(dialogs.errors.isEmpty());

    const auto frames = sim.ReceivedFrames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].bytes, family == 0 ? (Bytes{0x02, 0x01, 0x06, 0x33, 0x62, 0x34})
                                           : (Bytes{0x02, 0x03, 0x06, 0x33, 0xDA, 0x81}));
    // Power Up: reset, then polled through Initialize; then the mode switch.
    const Cmds cmds = Commands(frames);
    ASSERT_GE(cmds.size(), 13u);
    EXPECT_EQ(Cmds(cmds.begin(), cmds.begin() + 3), (Cmds{"33", "00", "30"}));
    const auto modeSwitch = std::find(cmds.begin(), cmds.end(), "50");
    ASSERT_NE(modeSwitch, cmds.end());
    EXPECT_EQ(Cmds(modeSwitch, modeSwitch + 3), (Cmds{"50", "50 00", "50 01"}));
    EXPECT_EQ(Cmds(modeSwitch - 2, modeSwitch), (Cmds{"33", "00"}));
    EXPECT_EQ(cmds.back(), "50 03");

    size_t blocks = 0;
    uint32_t next = 0xB000;
    for (const auto& f : frames) {
      EXPECT_EQ(f.Address(), address);
      EXPECT_TRUE(f.crcOk);
      if (!IsBlock(f)) continue;
      ++blocks;
      EXPECT_EQ(f.bytes.size(), 268u);
      EXPECT_EQ(BlockAddress(f), next);
      next += 256;
    }
    EXPECT_EQ(blocks, 1872u);
    EXPECT_EQ(next, 0x80000u);
    // The first Encryption block, exactly.
    const auto first = std::find_if(frames.begin(), frames.end(), IsBlock);
    EXPECT_EQ(Bytes(first->bytes.begin(), first->bytes.begin() + 10),
              (Bytes{0x02, address, 0x00, 0x50, 0x02, 0x01, 0x0C, 0x00, 0xB0, 0x00}));

    EXPECT_EQ(sim.Firmware(), ExpectedFirmware(0x80000));
    EXPECT_FALSE(sim.InDownloadMode());

    // The percentages before each block.
    const QStringList enc = StatusesOf("Encryption");
    ASSERT_EQ(enc.size(), 32);
    EXPECT_TRUE(enc[0].endsWith(": 0%"));
    EXPECT_TRUE(enc[1].endsWith(": 4%"));
    EXPECT_TRUE(enc[2].endsWith(": 7%"));
    EXPECT_TRUE(enc[31].endsWith(": 97%"));
    const QStringList bvc = StatusesOf("BV Control");
    ASSERT_EQ(bvc.size(), 224);
    EXPECT_TRUE(bvc[0].endsWith(": 0%"));
    EXPECT_TRUE(bvc[223].endsWith(": 100%"));
    const QStringList val = StatusesOf("Validation");
    ASSERT_EQ(val.size(), 1616);
    EXPECT_TRUE(val[0].endsWith(": 0%"));
    EXPECT_TRUE(val[1615].endsWith(": 100%"));
    EXPECT_EQ(statuses.first(), "Wait... Reseting Device");
    EXPECT_TRUE(statuses.contains("Wait... Switching To Update Mode"));
  }
}

TEST_F(WindowUpdate, ARefusedBlockAbandonsThatImageAndTheNextIsStillWritten) {
  std::ofstream(file.toStdString()) << HexImage(0xB000, 0x1B000);
  Check(true, true, false);
  const bvsim::Fault refuse = RefusedBlock(0xB300, 0x30);
  sim.InjectFault(refuse);
  bool startEnabledAfterFailure = false;
  QObject::connect(form.get(), &TForm1::StatusChanged, [&](const QString& s) {
    if (s.startsWith("Wait... Writing BV Control"))
      startEnabledAfterFailure |= Control<QPushButton>("ButtonStart")->isEnabled();
  });
  ClickStart();
  EXPECT_FALSE(startEnabledAfterFailure);

  const std::vector<uint32_t> blocks = BlockAddresses(sim.ReceivedFrames());
  ASSERT_EQ(blocks.size(), 4u + 224u);
  EXPECT_EQ(blocks[3], 0xB300u);
  EXPECT_EQ(blocks[4], 0xD000u);
  const auto fw = sim.Firmware();
  EXPECT_EQ(fw[0xB2FF], PatternByte(0xB2FF));
  EXPECT_EQ(fw[0xB300], 0xFF);  // refused
  EXPECT_EQ(fw[0xCFFF], 0xFF);  // never sent
  EXPECT_EQ(fw[0xD000], PatternByte(0xD000));
  EXPECT_EQ(fw[0x1AFFF], PatternByte(0x1AFFF));

  const int fail = static_cast<int>(statuses.indexOf("Error write data..."));
  ASSERT_GT(fail, 0);
  EXPECT_EQ(statuses[fail - 1], "Wait... Writing Encryption Image Data: 10%");
  EXPECT_EQ(statuses[fail + 1], "Wait... Writing BV Control Image Data: 0%");
  // The run ends showing the failure, with Start usable again.
  EXPECT_EQ(Status(), "Error write data...");
  EXPECT_FALSE(statuses.contains("Ready"));
  EXPECT_TRUE(Control<QPushButton>("ButtonStart")->isEnabled());
  EXPECT_TRUE(FramesBeforeMark(sim, "COM1"));  // the port is free again
}

TEST_F(WindowUpdate, ASilentValidatorFailsTheImageAfterItsTimeOuts) {
  std::ofstream(file.toStdString()) << HexImage(0xB000, 0xB100);
  Check(true, false, false);
  sim.SetSilent(true);
  ClickStart();
  // Poll, three mode-switch commands, one block, finish: six reads that time out, one after
  // another.
  EXPECT_EQ(Commands(sim.ReceivedFrames()),
            (Cmds{"33", "00", "50", "50 00", "50 01", "50 02", "50 03"}));
  EXPECT_EQ(statuses, (QStringList{"Wait... Reseting Device", "Wait... Switching To Update Mode",
                                   "Wait... Writing Encryption Image Data: 0%",
                                   "Error write data...", "Error write data..."}));
}

TEST_F(WindowUpdate, AMalformedOrSpecialFileIsRefusedBeforeAnythingIsSent) {
  std::ofstream(file.toStdString()) << HexImage(0xB000, 0xB100) << ":10B10000FF\n";
  Check(true, false, false);
  ClickStart();
  ASSERT_EQ(dialogs.errors.size(), 1);
  EXPECT_TRUE(dialogs.errors[0].contains(file));
  EXPECT_TRUE(dialogs.errors[0].contains("line 19"));
  EXPECT_EQ(Status(), "Ready");

  // A device or a pipe as the file: one line at once, where reading it would never end.
  const QString fifo = settings.dir.filePath("fifo.vkf");
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  for (const QString& special : {QStringLiteral("/dev/zero"), fifo}) {
    dialogs.errors.clear();
    Control<QLineEdit>("EditFileName")->setText(special);
    ClickStart();
    EXPECT_EQ(dialogs.errors, QStringList{"The image file " + special +
                                          " is not a regular file. Nothing was sent."});
    EXPECT_EQ(Status(), "Ready");
    EXPECT_TRUE(Control<QPushButton>("ButtonStart")->isEnabled());
  }

  // None of them sent a byte: the simulator's record begins with the next good run's first Poll.
  std::ofstream(file.toStdString()) << HexImage(0xB000, 0xB100);
  Control<QLineEdit>("EditFileName")->setText(file);
  ClickStart();
  EXPECT_EQ(Status(), "Ready");
  const Cmds cmds = Commands(sim.ReceivedFrames());
  ASSERT_GE(cmds.size(), 3u);
  EXPECT_EQ(cmds.front(), "33");
  EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "50 02"), 32);
  EXPECT_EQ(cmds.back(), "50 03");
}
