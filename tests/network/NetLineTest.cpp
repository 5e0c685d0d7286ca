// The port library's network line against real servers on 127.0.0.1: ser2net 4 serving a
// pseudo-terminal over RFC 2217 (plain and inside TLS with client authentication) and raw TCP,
// a server that never speaks, a port nobody listens on, and a recording RFC 2217 server for the
// modem lines a pseudo-terminal cannot show.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>

#include "GensioLine.h"
#include "PtyPeer.h"
#include "Ser2netRig.h"

using namespace zelnet::test;
using zelnet_ports::NetLine;
using zelnet_ports::ParseTarget;
using zelnet_ports::Target;

namespace {

Target T(const QString& text) {
  QString error;
  const std::optional<Target> t = ParseTarget(text, &error);
  EXPECT_TRUE(t.has_value()) << error.toStdString();
  return t.value_or(Target{});
}

// XDG_CONFIG_HOME for the life of the object.
struct ConfigHome {
  explicit ConfigHome(const QString& dir) : saved(qgetenv("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", dir.toLocal8Bit());
  }
  ~ConfigHome() { qputenv("XDG_CONFIG_HOME", saved); }
  QByteArray saved;
};

struct NetLineOverSer2net : ::testing::Test {
  PtyPeer device;  // the remote port: a pseudo-terminal ser2net serves
  Ser2net server;
  int rfc = -1, raw = -1, tls = -1;

  void SetUp() override {
    if (!Ser2net::Available()) GTEST_SKIP() << "ser2net, socat or openssl is not installed";
    rfc = server.Add(device.SlavePath(), Ser2net::Kind::Rfc2217, "9600n81");
    raw = server.Add(device.SlavePath(), Ser2net::Kind::Raw, "9600n81");
    tls = server.Add(device.SlavePath(), Ser2net::Kind::Rfc2217Tls, "9600n81");
    QString error;
    ASSERT_TRUE(server.Start(error)) << error.toStdString();
  }
};

TEST_F(NetLineOverSer2net, SetsTheRemoteBaudRateAndCarriesEveryByteBothWays) {
  QString error;
  auto line = NetLine::Open(T(server.TargetText(rfc)), error);
  ASSERT_TRUE(line) << error.toStdString();
  EXPECT_TRUE(line->CarriesSignals());
  EXPECT_EQ(line->QueryBaud(), 9600u);  // the connector's own setting
  EXPECT_TRUE(line->SetBaud(19200));
  EXPECT_TRUE(WaitFor([&] { return device.BaudRate() == 19200; }, 5000)) << device.BaudRate();
  EXPECT_EQ(line->QueryBaud(), 19200u);
  // Telnet's IAC (0xFF) everywhere, doubled IACs, and every other value.
  zelnet::test::Bytes block(256, 0xFF);
  for (int i = 0; i < 256; ++i) block.push_back(static_cast<uint8_t>(i));
  block.insert(block.end(), {0xFF, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0xFF});
  ASSERT_EQ(line->Write(block.data(), block.size(), 5000), block.size());
  EXPECT_EQ(device.Read(block.size()), block);
  ASSERT_TRUE(device.Write(block));
  zelnet::test::Bytes back(block.size());
  size_t got = 0;
  QElapsedTimer clock;
  clock.start();
  while (got < back.size() && clock.elapsed() < 10000)
    got += line->Read(back.data() + got, back.size() - got, 500);
  EXPECT_EQ(back, block);
  EXPECT_FALSE(line->Lost());
}

TEST_F(NetLineOverSer2net, RawTcpCarriesBytesAndNoSignals) {
  QString error;
  auto line = NetLine::Open(T(server.TargetText(raw)), error);
  ASSERT_TRUE(line) << error.toStdString();
  EXPECT_FALSE(line->CarriesSignals());
  EXPECT_FALSE(line->SetRts(true));
  // The raw connection is open before ser2net has set up the device; wait for its settings.
  ASSERT_TRUE(WaitFor([&] { return device.BaudRate() == 9600; }, 10000)) << device.BaudRate();
  const zelnet::test::Bytes bytes{0xFF, 0xFB, 0x2C, 0x02, 0xFF};
  ASSERT_EQ(line->Write(bytes.data(), bytes.size(), 2000), bytes.size());
  EXPECT_EQ(device.Read(bytes.size()), bytes) << server.Output().toStdString();
}

TEST_F(NetLineOverSer2net, OpensThatCannotCompleteFailWithTheirReason) {
  SilentServer silent;
  const int nobody = FreeLoopbackPort();
  const struct {
    QString target;
    QString reason;
  } cases[] = {
      {QStringLiteral("rfc2217://127.0.0.1:%1").arg(nobody), "connection refused"},
      {QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.Port()), "no connection within 2 s"},
      {QStringLiteral("rfc2217s://127.0.0.1:%1").arg(silent.Port()), "no connection within 2 s"},
      // ser2net in raw mode never agrees to the COM-PORT option.
      {QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.Port(raw)), "within 2 s"},
  };
  ConfigHome home(server.Tls().ConfigHome(TlsBench::Client::Authorised));
  for (const auto& c : cases) {
    QString error;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(NetLine::Open(T(c.target), error)) << c.target.toStdString();
    EXPECT_LT(clock.elapsed(), 30000) << c.target.toStdString();  // bounded, never hung
    EXPECT_TRUE(error.contains(c.reason)) << c.target.toStdString() << ": " << error.toStdString();
    EXPECT_TRUE(error.contains("127.0.0.1:")) << error.toStdString();
  }
}

TEST_F(NetLineOverSer2net, AConnectionThatDropsIsALostLine) {
  QString error;
  auto line = NetLine::Open(T(server.TargetText(rfc)), error);
  ASSERT_TRUE(line) << error.toStdString();
  server.Stop();
  uint8_t byte = 0;
  ASSERT_TRUE(WaitFor([&] { return line->Read(&byte, 1, 100) == 0 && line->Lost(); }, 20000));
  EXPECT_FALSE(line->LostReason().isEmpty());
  // Once lost, nothing waits: reads and writes return at once.
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(line->Read(&byte, 1, 60000), 0u);
  EXPECT_EQ(line->Write(&byte, 1, 60000), 0u);
  EXPECT_EQ(line->QueryBaud(60000), 0u);
  EXPECT_LT(clock.elapsed(), 30000);
}

TEST_F(NetLineOverSer2net, TlsLetsInOnlyTheAuthorisedCertificate) {
  const Target target = T(server.TargetText(tls));
  {
    ConfigHome home(server.Tls().ConfigHome(TlsBench::Client::Authorised));
    QString error;
    auto line = NetLine::Open(target, error);
    ASSERT_TRUE(line) << error.toStdString() << server.Output().toStdString();
    EXPECT_TRUE(line->SetBaud(19200));
    const zelnet::test::Bytes bytes{0x02, 0xFF, 0x03};
    ASSERT_EQ(line->Write(bytes.data(), bytes.size(), 2000), bytes.size());
    EXPECT_EQ(device.Read(bytes.size()), bytes);
    EXPECT_TRUE(zelnet_ports::CheckNetTarget(target).tlsVerified);
  }
  const size_t written = device.RawBytes().size();
  const struct {
    QString home;
    QString reason;
  } refusals[] = {
      // Unknown to the server's authdir.
      {server.Tls().ConfigHome(TlsBench::Client::Unknown),
       "TLS: the server refused our certificate"},
      // Our CA did not sign the server's certificate.
      {server.Tls().ConfigHome(TlsBench::Client::UntrustingCa),
       "TLS: the server's certificate is not trusted"},
      // No certificate at all: refused here, naming where it was looked for.
      {server.Tls().AuthDir() + "/nobody-home", "TLS: no client certificate"},
  };
  for (const auto& r : refusals) {
    ConfigHome home(r.home);
    QString error;
    EXPECT_FALSE(NetLine::Open(target, error)) << r.home.toStdString();
    EXPECT_TRUE(error.contains(r.reason)) << error.toStdString();
    const zelnet_ports::NetCheck check = zelnet_ports::CheckNetTarget(target);
    EXPECT_FALSE(check.tlsVerified);
    EXPECT_EQ(check.problem, error);
  }
  // A stack without any certificate gets no further than the handshake either.
  QString error;
  EXPECT_FALSE(NetLine::Open(T(QStringLiteral("gensio:telnet(rfc2217),ssl(CA=%1/ca.crt),tcp,"
                                              "127.0.0.1,%2")
                                   .arg(server.Tls().AuthDir() + "/..")
                                   .arg(server.Port(tls))),
                             error));
  // Nothing reached the remote port from a refused client.
  QThread::msleep(200);
  EXPECT_EQ(device.RawBytes().size(), written);
}

TEST(NetLineCheck, ShowsWhatTheToolReportsOfAServer) {
  if (!Ser2net::Available()) GTEST_SKIP() << "ser2net is not installed";
  PtyPeer device;
  Ser2net server;
  const int rfc = server.Add(device.SlavePath(), Ser2net::Kind::Rfc2217, "19200n81");
  QString error;
  ASSERT_TRUE(server.Start(error)) << error.toStdString();
  zelnet_ports::NetCheck check = zelnet_ports::CheckNetTarget(T(server.TargetText(rfc)));
  EXPECT_TRUE(check.reachable);
  EXPECT_TRUE(check.negotiated);
  EXPECT_FALSE(check.tlsVerified);
  EXPECT_EQ(check.baud, 19200u);
  EXPECT_TRUE(check.problem.isEmpty()) << check.problem.toStdString();
  check = zelnet_ports::CheckNetTarget(
      T(QStringLiteral("rfc2217://127.0.0.1:%1").arg(FreeLoopbackPort())));
  EXPECT_FALSE(check.reachable);
  EXPECT_TRUE(check.problem.contains("connection refused")) << check.problem.toStdString();
}

// zelnet-ports opens each network target of the map as the programs would: a port behind
// ser2net is reachable with its remote baud rate, one nobody serves makes the status 1.
TEST(NetLineCheck, ZelnetPortsChecksTheNetworkTargetsOfTheMap) {
  if (!Ser2net::Available()) GTEST_SKIP() << "ser2net is not installed";
  PtyPeer device;
  Ser2net server;
  const int rfc = server.Add(device.SlavePath(), Ser2net::Kind::Rfc2217, "19200n81");
  QString error;
  ASSERT_TRUE(server.Start(error)) << error.toStdString();
  QTemporaryDir config;
  ASSERT_TRUE(QDir().mkpath(config.filePath("zelnet")));
  const auto writeMap = [&](const QString& text) {
    QFile map(config.filePath("zelnet/ports.conf"));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly));
    map.write(text.toUtf8());
  };
  const auto run = [&](const QStringList& args, QString& out) {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    for (int n = 1; n <= 8; ++n) env.remove(QStringLiteral("ZELNET_COM%1").arg(n));
    tool.setProcessEnvironment(env);
    tool.start(ZELNET_PORTS_TOOL, args);
    EXPECT_TRUE(tool.waitForFinished(60000)) << tool.errorString().toStdString();
    out = QString::fromUtf8(tool.readAllStandardOutput());
    return tool.exitCode();
  };
  writeMap(QStringLiteral("COM1 = %1\nCOM2 = rfc2217://127.0.0.1:%2\n")
               .arg(server.TargetText(rfc))
               .arg(FreeLoopbackPort()));
  QString out;
  EXPECT_EQ(run({}, out), 1) << out.toStdString();
  EXPECT_TRUE(
      out.contains("COM1: reachable: connected, RFC 2217 negotiated, remote port at 19200 "
                   "baud"))
      << out.toStdString();
  EXPECT_TRUE(out.contains("COM2: unreachable")) << out.toStdString();

  writeMap(QStringLiteral("COM1 = %1\n").arg(server.TargetText(rfc)));
  EXPECT_EQ(run({"--json"}, out), 0) << out.toStdString();
  const QJsonObject com1 = QJsonDocument::fromJson(out.toUtf8())["ports"].toArray()[0].toObject();
  EXPECT_EQ(com1["state"].toString(), "reachable");
  EXPECT_EQ(com1["remote_baud"].toInt(), 19200);
}

TEST(NetLineSignals, RtsAndDtrReachTheRemotePortInOrderWithoutWaitingForAnAcknowledgement) {
  if (!Rfc2217Recorder::Available()) GTEST_SKIP() << "python3-serial is not installed";
  Rfc2217Recorder recorder;
  QString error;
  ASSERT_TRUE(recorder.Start(error)) << error.toStdString();
  auto line = NetLine::Open(T(recorder.TargetText()), error);
  ASSERT_TRUE(line) << error.toStdString();
  EXPECT_TRUE(line->SetBaud(19200));
  EXPECT_TRUE(line->SetRts(true));
  QThread::msleep(50);
  EXPECT_TRUE(line->SetRts(false));
  EXPECT_TRUE(line->SetDtr(false));
  std::vector<Rfc2217Recorder::Control> controls;
  ASSERT_TRUE(WaitFor(
      [&] {
        controls = recorder.Controls();
        return !controls.empty() && controls.back().what == "dtr 0";
      },
      20000));
  QStringList seen;
  for (const auto& c : controls)
    if (c.what != "baud 9600") seen << c.what;
  EXPECT_EQ(seen, (QStringList{"baud 19200", "rts 1", "rts 0", "dtr 0"}));
}

}  // namespace
