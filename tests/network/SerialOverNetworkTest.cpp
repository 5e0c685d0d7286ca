// A validator on another machine: bvsim's pty served on TCP by ser2net (on 127.0.0.1), and socat
// presenting that TCP port as a local pty, which ZELNET_COM<n> names. Velkup writes every block
// through the chain and Velkor's start-up search finds the validator there, though the RTS pulse
// of its bus reset never crosses the network. Skipped when ser2net or socat is not installed.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <memory>

#include "../velkup_updater/SimSupport.h"
#include "ConsoleRig.h"
#include "HexWriter.h"
#include "PortNames.h"
#include "Ser2netRig.h"
#include "UpdateHistory.h"
#include "UpdateSequence.h"

using namespace velkup;

using namespace velkup::test;
using zelnet::test::HexImage;
using zelnet::test::PatternByte;
using zelnet::test::Ser2net;

namespace {

// bvsim behind ser2net on 127.0.0.1; each test serves it the way it needs.
struct SerialOverNetwork : ::testing::Test {
  bvsim::Simulator sim{VelkupValidator()};
  std::unique_ptr<Ser2net> chain = std::make_unique<Ser2net>();

  void SetUp() override {
    if (!Ser2net::Available()) GTEST_SKIP() << "ser2net, socat or openssl is not installed";
    ASSERT_TRUE(sim.Start()) << sim.LastError();
  }

  // Serves bvsim's line as `kind`, the connector set to `line`; the connection's index.
  int Serve(Ser2net::Kind kind, const QString& line = "19200n81") {
    const int i = chain->Add(sim.SlavePath(), kind, line);
    QString error;
    EXPECT_TRUE(chain->Start(error)) << error.toStdString();
    return i;
  }

  // Runs Velkup's update sequence on `port` (a COM name or a target) at 19200 baud with the
  // given images, calling `everyPass` at each pass over the events.
  struct Update {
    TRunOutcome outcome;
    TRunReport report;
    QStringList statuses;
  };
  Update RunUpdate(
      const QString& port, const std::string& hex,
      std::function<bool(TImage)> images = [](TImage) { return true; },
      std::function<void()> everyPass = {}) {
    QTemporaryDir dir;
    const QString file = dir.filePath("image.vkf");
    std::ofstream(file.toStdString()) << hex;
    QObject owner;
    auto* drv = new TCommDrv(&owner);
    drv->SetPollingDelay(500);
    Update u;
    TUpdateSequence::TView view;
    view.SetStatus = [&](const QString& s) { u.statuses << s; };
    view.SetStartEnabled = [](bool) {};
    view.BVTypeIndex = [] { return 1; };  // "QB, QC": address 0x03
    view.ImageChecked = std::move(images);
    view.ProcessEvents = [&] {
      QCoreApplication::processEvents();
      if (everyPass) everyPass();
    };
    view.ShowError = [&](const QString& s) { u.statuses << "error: " + s; };
    TUpdateSequence sequence(*drv, std::move(view));
    TUpdateOptions options;
    options.portName = port;
    options.baudRateIndex = 1;
    options.fileName = file;
    u.outcome = sequence.Run(options);
    u.report = sequence.LastReport();
    return u;
  }

  // The old route: ser2net's raw port with socat's pty in front of it.
  void ServeThroughSocat() {
    const int raw = Serve(Ser2net::Kind::Raw);
    QString error;
    ASSERT_TRUE(chain->StartSocat(raw, error)) << error.toStdString();
  }
};

TEST_F(SerialOverNetwork, VelkupWritesEveryBlockOfAllThreeImagesByteExact) {
  ServeThroughSocat();
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

  TUpdateOptions options;
  options.comPortIndex = 4;
  options.baudRateIndex = 1;
  options.fileName = QString::fromStdString(file);
  const TRunOutcome outcome = [&] {
    zelnet::test::PortNames names;
    names.Set(5, chain->LocalPath().toStdString());
    return sequence.Run(options);
  }();

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
  ServeThroughSocat();
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

// COM1 refuses, COM2 accepts and never speaks, COM3 is bvsim behind ser2net over RFC 2217
// with the remote port set to 19200: the search goes on past both failed opens and finds the
// validator on COM3, at the 9600 baud it chose; the session record says why COM1 and COM2 did
// not open.
TEST_F(SerialOverNetwork, VelkorsSearchGoesPastTargetsThatDoNotOpenAndFindsTheValidatorOnCom3) {
  const int rfc = Serve(Ser2net::Kind::Rfc2217, "19200n81");
  zelnet::test::SilentServer silent;
  const QString refusing =
      QStringLiteral("rfc2217://127.0.0.1:%1").arg(zelnet::test::FreeLoopbackPort());
  const QString quiet = QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.Port());
  velkor::test::PortNames ports{
      {refusing.toStdString(), quiet.toStdString(), chain->TargetText(rfc).toStdString()}};
  velkor::test::RecordingDialogs dialogs;
  auto form = std::make_unique<velkor::TMainForm>(velkor::TMainForm::Setup{&dialogs, {}});
  EXPECT_TRUE(dialogs.errorBoxes.isEmpty()) << dialogs.errorBoxes.join(" | ").toStdString();
  EXPECT_EQ(velkor::test::LogLines(*form).mid(0, 3),
            (QStringList{velkor::test::kSep, velkor::test::kSep, "Device has found on COM3!"}));
  EXPECT_EQ(sim.LineBaud(), 9600u);
  EXPECT_EQ(Commands(sim.ReceivedFrames()), (Cmds{"33", "33"}));
  // This run's session record: the newest file of the session log folder.
  const QDir logs(velkor::SessionLog::DefaultFolder());
  const QStringList files = logs.entryList({"velkor-*.log"}, QDir::Files, QDir::Time);
  ASSERT_FALSE(files.isEmpty());
  QFile record(logs.filePath(files.first()));
  ASSERT_TRUE(record.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(record.readAll());
  EXPECT_TRUE(text.contains(
      QStringLiteral("COM1: 127.0.0.1:%1: connection refused").arg(refusing.section(':', -1))))
      << text.toStdString();
  EXPECT_TRUE(text.contains(
      QStringLiteral("COM2: 127.0.0.1:%1: no connection within 2 s").arg(silent.Port())))
      << text.toStdString();
  form.reset();
}

// Bus Reset's RTS pulse crosses RFC 2217: a recording server sees RTS raised, then lowered about
// 50 ms later, before the search's Poll (which the server's looped-back line answers).
TEST_F(SerialOverNetwork, VelkorsBusResetPulsesTheRemotePortsRts) {
  if (!zelnet::test::Rfc2217Recorder::Available())
    GTEST_SKIP() << "python3-serial is not installed";
  zelnet::test::Rfc2217Recorder recorder;
  QString error;
  ASSERT_TRUE(recorder.Start(error)) << error.toStdString();
  velkor::test::PortNames ports{{recorder.TargetText().toStdString()}};
  velkor::test::RecordingDialogs dialogs;
  auto form = std::make_unique<velkor::TMainForm>(velkor::TMainForm::Setup{&dialogs, {}});
  EXPECT_EQ(velkor::test::LogLines(*form).mid(0, 3),
            (QStringList{velkor::test::kSep, velkor::test::kSep, "Device has found on COM1!"}));
  std::vector<zelnet::test::Rfc2217Recorder::Control> controls;
  ASSERT_TRUE(zelnet::test::WaitFor(
      [&] {
        controls = recorder.Controls();
        return controls.size() >= 4;
      },
      20000));
  QStringList seen;
  for (const auto& c : controls) seen << c.what;
  const int high = static_cast<int>(seen.indexOf("rts 1"));
  ASSERT_GE(high, 0) << seen.join(", ").toStdString();
  ASSERT_LT(high + 1, seen.size());
  EXPECT_EQ(seen[high + 1], "rts 0") << seen.join(", ").toStdString();
  EXPECT_TRUE(seen.mid(0, high).contains("baud 9600")) << seen.join(", ").toStdString();
  EXPECT_GE(controls[high + 1].ms - controls[high].ms, 30.0);
  form.reset();
}

// The whole update over RFC 2217: the remote port is served at 9600 and Velkup's 19200 reaches
// bvsim's pty; every byte arrives as it left, a block of nothing but 0xFF (telnet's IAC) and the
// check codes and lengths that hold 0xFF included.
TEST_F(SerialOverNetwork, VelkupUpdatesThroughRfc2217ByteExactAtItsOwnBaudRate) {
  const int rfc = Serve(Ser2net::Kind::Rfc2217, "9600n81");
  // The file leaves 0xB100-0xB200 out: that block goes as 256 bytes of 0xFF.
  const std::string hex = HexImage(0xB000, 0xB100) + HexImage(0xB200, 0x80000);
  const Update u = RunUpdate(chain->TargetText(rfc), hex);
  EXPECT_EQ(u.outcome, TRunOutcome::Ready)
      << u.statuses.join(" | ").toStdString() << FailureText(u.report.images[0]).toStdString();
  EXPECT_EQ(sim.LineBaud(), 19200u);
  EXPECT_EQ(u.report.target, chain->TargetText(rfc));
  EXPECT_EQ(BlockAddresses(sim.ReceivedFrames()).size(), (0x80000u - 0xB000u) / 256);
  const std::vector<uint8_t> firmware = sim.Firmware();
  ASSERT_EQ(firmware.size(), 0x80000u);
  size_t wrong = 0;
  uint32_t first = 0;
  for (uint32_t a = 0xB000; a < 0x80000; ++a) {
    const uint8_t want = a >= 0xB100 && a < 0xB200 ? 0xFF : PatternByte(a);
    if (firmware[a] != want && wrong++ == 0) first = a;
  }
  EXPECT_EQ(wrong, 0u) << "first differing address 0x" << std::hex << first;
}

// ser2net goes away in the middle of the Encryption image: that image ends as "port lost", the
// next cannot open the port (its reason recorded), and the run ends without hanging.
TEST_F(SerialOverNetwork, AServerThatStopsMidUpdateIsAPortLost) {
  const int rfc = Serve(Ser2net::Kind::Rfc2217);
  bool stopped = false;
  const Update u = RunUpdate(
      chain->TargetText(rfc), HexImage(0xB000, 0x1B000),
      [](TImage i) { return i != TImage::Validation; },
      [&] {
        if (!stopped && BlockAddresses(sim.ReceivedFrames()).size() >= 10) {
          chain->Stop();
          stopped = true;
        }
      });
  ASSERT_TRUE(stopped);
  EXPECT_EQ(u.outcome, TRunOutcome::ImageFailed) << u.statuses.join(" | ").toStdString();
  const TImageReport& encryption = u.report.images[0];
  EXPECT_EQ(encryption.failure, TImageFailure::PortLost);
  EXPECT_GE(encryption.blocksWritten, 10u);
  EXPECT_LT(encryption.blocksWritten, 32u);
  EXPECT_EQ(FailureText(encryption), "port lost");
  const TImageReport& control = u.report.images[1];
  EXPECT_EQ(control.failure, TImageFailure::PortNotOpen);
  EXPECT_EQ(FailureText(control),
            QStringLiteral("port cannot be opened: 127.0.0.1:%1: connection refused")
                .arg(chain->Port(rfc)));
}

// velkup-batch on three ser2net ports at once, each its own validator, and a fourth port behind
// TLS whose server does not know our certificate: that port alone fails, with the reason.
TEST_F(SerialOverNetwork, VelkupBatchUpdatesThreeNetworkPortsAndFailsTheRefusedOneAlone) {
  std::vector<std::unique_ptr<bvsim::Simulator>> more;
  for (int i = 0; i < 3; ++i) {
    more.push_back(std::make_unique<bvsim::Simulator>(VelkupValidator()));
    ASSERT_TRUE(more.back()->Start()) << more.back()->LastError();
  }
  const int a = chain->Add(more[0]->SlavePath(), Ser2net::Kind::Rfc2217);
  const int b = chain->Add(more[1]->SlavePath(), Ser2net::Kind::Rfc2217);
  const int c = chain->Add(more[2]->SlavePath(), Ser2net::Kind::Rfc2217);
  const int tls = chain->Add(sim.SlavePath(), Ser2net::Kind::Rfc2217Tls);
  QString error;
  ASSERT_TRUE(chain->Start(error)) << error.toStdString();

  QTemporaryDir dir;
  const QString file = dir.filePath("image.vkf");
  std::ofstream(file.toStdString()) << HexImage(0xB000, 0x1B000);
  QProcess batch;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_DATA_HOME", dir.filePath("data"));
  env.insert("XDG_CONFIG_HOME", chain->Tls().ConfigHome(zelnet::test::TlsBench::Client::Unknown));
  batch.setProcessEnvironment(env);
  batch.start(VELKUP_BATCH,
              {"--port", chain->TargetText(a), "--port", chain->TargetText(b), "--port",
               chain->TargetText(c), "--port", chain->TargetText(tls), "--images",
               "encryption,bvcontrol", "--report", dir.filePath("report.json"), file});
  ASSERT_TRUE(batch.waitForFinished(300000));
  const QString out = QString::fromLocal8Bit(batch.readAllStandardOutput());
  EXPECT_EQ(batch.exitCode(), 1) << out.toStdString();
  for (const auto& s : more) {
    EXPECT_EQ(BlockAddresses(s->ReceivedFrames()).size(), (0x1B000u - 0xB000u) / 256);
    const std::vector<uint8_t> firmware = s->Firmware();
    size_t wrong = 0;
    for (uint32_t x = 0xB000; x < 0x1B000; ++x) wrong += firmware[x] != PatternByte(x);
    EXPECT_EQ(wrong, 0u);
  }
  EXPECT_TRUE(sim.ReceivedFrames().empty());
  EXPECT_TRUE(out.contains("TLS: the server refused our certificate")) << out.toStdString();
  QFile report(dir.filePath("report.json"));
  ASSERT_TRUE(report.open(QIODevice::ReadOnly));
  const QJsonArray ports = QJsonDocument::fromJson(report.readAll()).object()["ports"].toArray();
  ASSERT_EQ(ports.size(), 4);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ports[i].toObject()["result"].toString(), "ok");
  EXPECT_EQ(ports[3].toObject()["result"].toString(), "failed");
}

}  // namespace
