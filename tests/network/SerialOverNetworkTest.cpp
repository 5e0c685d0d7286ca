// A validator on another machine: bvsim's pty served on TCP by ser2net (on 127.0.0.1), and socat
// presenting that TCP port as a local pty, which ZELNET_COM<n> names. Velkup writes every block
// through the chain and Velkor's start-up search finds the validator there, though the RTS pulse
// of its bus reset never crosses the network. Skipped when ser2net or socat is not installed.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <fstream>
#include <memory>

#include "../velkup_updater/SimSupport.h"
#include "ConsoleRig.h"
#include "HexWriter.h"
#include "Ser2netRig.h"
#include "UpdateSequence.h"

using namespace velkup;

using namespace velkup::test;
using zelnet::test::HexImage;
using zelnet::test::PatternByte;
using zelnet::test::Ser2net;

namespace {

// bvsim behind ser2net's raw TCP port, and socat's pty in front of it.
struct SerialOverNetwork : ::testing::Test {
  bvsim::Simulator sim{VelkupValidator()};
  std::unique_ptr<Ser2net> chain;

  void SetUp() override {
    if (!Ser2net::Available()) GTEST_SKIP() << "ser2net, socat or openssl is not installed";
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    chain = std::make_unique<Ser2net>();
    const int raw = chain->Add(sim.SlavePath(), Ser2net::Kind::Raw, "19200n81");
    QString error;
    ASSERT_TRUE(chain->Start(error)) << error.toStdString();
    ASSERT_TRUE(chain->StartSocat(raw, error)) << error.toStdString();
  }
};

TEST_F(SerialOverNetwork, VelkupWritesEveryBlockOfAllThreeImagesByteExact) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("image.vkf").toStdString();
  std::ofstream(file) << HexImage(0xB000, 0x80000);

  QObject owner;
  auto* drv = new TCommDrv(&owner);
  drv->SetPollingDelay(500);
  QStringList statuses, errors;
  TUpdateSequence::TView view;
  view.SetStatus = [&](const QString& s) { statuses << s; };
  view.SetStartEnabled = [](bool) {};
  view.BVTypeIndex = [] { return 1; };  // "QB, QC": address 0x03
  view.ImageChecked = [](TImage) { return true; };
  view.ProcessEvents = [] { QCoreApplication::processEvents(); };
  view.ShowError = [&](const QString& s) { errors << s; };
  TUpdateSequence sequence(*drv, std::move(view));

  qputenv("ZELNET_COM5", chain->LocalPath().toLocal8Bit());
  TUpdateOptions options;
  options.comPortIndex = 4;
  options.baudRateIndex = 1;
  options.fileName = QString::fromStdString(file);
  const TRunOutcome outcome = sequence.Run(options);
  qunsetenv("ZELNET_COM5");

  EXPECT_EQ(outcome, TRunOutcome::Ready) << statuses.join(" | ").toStdString();
  EXPECT_TRUE(errors.isEmpty()) << errors.join(" | ").toStdString();
  EXPECT_EQ(BlockAddresses(sim.ReceivedFrames()).size(), (0x80000u - 0xB000u) / 256);
  const std::vector<uint8_t> firmware = sim.Firmware();
  ASSERT_EQ(firmware.size(), 0x80000u);
  size_t wrong = 0;
  uint32_t first = 0;
  for (uint32_t a = 0xB000; a < 0x80000; ++a) {
    if (firmware[a] != PatternByte(a) && wrong++ == 0) first = a;
  }
  EXPECT_EQ(wrong, 0u) << "first differing address 0x" << std::hex << first;
  EXPECT_TRUE(chain->Running());
}

TEST_F(SerialOverNetwork, VelkorsStartUpSearchFindsTheValidatorWithoutItsRtsPulse) {
  velkor::test::RecordingDialogs dialogs;
  velkor::test::PortNames ports{{chain->LocalPath().toStdString()}};
  auto form = std::make_unique<velkor::TMainForm>(velkor::TMainForm::Setup{&dialogs, {}});
  EXPECT_TRUE(dialogs.errorBoxes.isEmpty()) << dialogs.errorBoxes.join(" | ").toStdString();
  EXPECT_EQ(velkor::test::LogLines(*form).mid(0, 3),
            (QStringList{velkor::test::kSep, velkor::test::kSep, "Device has found on COM1!"}));
  // The search's Poll and the single Poll after it crossed the network; nothing else did.
  const Cmds commands = Commands(sim.ReceivedFrames());
  EXPECT_EQ(commands, (Cmds{"33", "33"}));
  form.reset();
}

}  // namespace
