// A validator on another machine: bvsim's pty served on TCP by ser2net (on 127.0.0.1), and socat
// presenting that TCP port as a local pty, which ZELNET_COM<n> names. Velkup writes every block
// through the chain and Velkor's start-up search finds the validator there, though the RTS pulse
// of its bus reset never crosses the network. Skipped when ser2net or socat is not installed.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <fstream>
#include <memory>

#include "../velkup_updater/SimSupport.h"
#include "ConsoleRig.h"
#include "HexWriter.h"
#include "UpdateSequence.h"

using namespace velkup;

using namespace velkup::test;
using zelnet::test::HexImage;
using zelnet::test::PatternByte;

namespace {

// Waits until `ready` holds, processing events, for at most `ms`.
bool WaitFor(const std::function<bool()>& ready, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!ready()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents();
    QThread::msleep(20);
  }
  return true;
}

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(s);
  return port;
}

bool Accepts(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// ser2net serving `device` on 127.0.0.1, and socat's pty in front of it at LocalPath().
class NetworkChain {
 public:
  static bool Available() {
    return !QStandardPaths::findExecutable("ser2net").isEmpty() &&
           !QStandardPaths::findExecutable("socat").isEmpty();
  }

  // Starts both; false with the reason in `error`.
  bool Start(const std::string& device, QString& error) {
    port_ = FreeLoopbackPort();
    if (port_ == 0) return error = "no free port on 127.0.0.1", false;
    const QString config = dir_.filePath("ser2net.yaml");
    QFile yaml(config);
    if (!yaml.open(QIODevice::WriteOnly)) return error = yaml.errorString(), false;
    yaml.write(QStringLiteral("connection: &bench\n"
                              "  accepter: tcp,127.0.0.1,%1\n"
                              "  connector: serialdev,%2,19200n81,local\n"
                              "  options:\n"
                              "    kickolduser: true\n")
                   .arg(port_)
                   .arg(QString::fromStdString(device))
                   .toUtf8());
    yaml.close();
    Prepare(ser2net_);
    ser2net_.start("ser2net", {"-n", "-u", "-c", config, "-P", dir_.filePath("ser2net.pid")});
    if (!WaitFor([&] { return Accepts(port_); }, 10000)) {
      return error = "ser2net does not listen: " + QString::fromLocal8Bit(ser2net_.readAll()),
             false;
    }
    Prepare(socat_);
    socat_.start("socat", {QStringLiteral("pty,link=%1,raw,echo=0").arg(LocalPath()),
                           QStringLiteral("tcp:127.0.0.1:%1").arg(port_)});
    if (!WaitFor([&] { return QFileInfo::exists(LocalPath()); }, 10000)) {
      return error = "socat makes no pty: " + QString::fromLocal8Bit(socat_.readAll()), false;
    }
    return true;
  }

  // Both end with the test, even one that crashes.
  static void Prepare(QProcess& p) {
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  }

  QString LocalPath() const { return dir_.filePath("com"); }
  bool Running() const {
    return ser2net_.state() == QProcess::Running && socat_.state() == QProcess::Running;
  }

  ~NetworkChain() {
    for (QProcess* p : {&socat_, &ser2net_}) {
      if (p->state() == QProcess::NotRunning) continue;
      p->terminate();
      if (!p->waitForFinished(3000)) {
        p->kill();
        p->waitForFinished(3000);
      }
    }
  }

 private:
  QTemporaryDir dir_;
  int port_ = 0;
  QProcess ser2net_;
  QProcess socat_;
};

struct SerialOverNetwork : ::testing::Test {
  bvsim::Simulator sim{VelkupValidator()};
  std::unique_ptr<NetworkChain> chain;

  void SetUp() override {
    if (!NetworkChain::Available()) GTEST_SKIP() << "ser2net or socat is not installed";
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    chain = std::make_unique<NetworkChain>();
    QString error;
    ASSERT_TRUE(chain->Start(sim.SlavePath(), error)) << error.toStdString();
  }
};

TEST_F(SerialOverNetwork, VelkupWritesEveryBlockOfAllThreeImagesByteExact) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("image.vkf").toStdString();
  std::ofstream(file) << HexImage(0xB000, 0x80000);

  QObject owner;
  auto* drv = new TCommDrv(&owner);
  drv->SetPollingDelay(500);
  TImageMemory memory;
  QStringList statuses, errors;
  TUpdateSequence::TView view;
  view.SetStatus = [&](const QString& s) { statuses << s; };
  view.SetStartEnabled = [](bool) {};
  view.BVTypeIndex = [] { return 1; };  // "QB, QC": address 0x03
  view.ImageChecked = [](TImage) { return true; };
  view.ProcessEvents = [] { QCoreApplication::processEvents(); };
  view.ShowError = [&](const QString& s) { errors << s; };
  TUpdateSequence sequence(*drv, memory, std::move(view));

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
  velkor::test::SetPorts(chain->LocalPath().toStdString());
  auto form = std::make_unique<velkor::TMainForm>(velkor::TMainForm::Setup{&dialogs, {}});
  EXPECT_TRUE(dialogs.errorBoxes.isEmpty()) << dialogs.errorBoxes.join(" | ").toStdString();
  EXPECT_EQ(form->MessageLines().mid(0, 3),
            (QStringList{velkor::test::kSep, velkor::test::kSep, "Device has found on COM1!"}));
  EXPECT_TRUE(form->Link.IsOpen());
  // The search's Poll and the single Poll after it crossed the network; nothing else did.
  const Cmds commands = Commands(sim.ReceivedFrames());
  EXPECT_EQ(commands, (Cmds{"33", "33"}));
  form.reset();
  velkor::test::SetPorts({});
}

}  // namespace
