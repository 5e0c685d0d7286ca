#include "Ser2netRig.h"

#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>
#include <csignal>

namespace zelnet::test {

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

// The child ends with the test, even one that crashes.
void Prepare(QProcess& p) {
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

void End(QProcess& p) {
  if (p.state() == QProcess::NotRunning) return;
  p.terminate();
  if (!p.waitForFinished(3000)) {
    p.kill();
    p.waitForFinished(3000);
  }
}

bool WriteFile(const QString& path, const QByteArray& text) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// Runs openssl with `args` in `dir`; false with its words in `error`.
bool OpenSsl(const QString& dir, const QStringList& args, QString& error) {
  QProcess p;
  p.setWorkingDirectory(dir);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start("openssl", args);
  if (!p.waitForFinished(60000) || p.exitCode() != 0) {
    error = "openssl " + args.join(' ') + ": " + QString::fromLocal8Bit(p.readAll());
    return false;
  }
  return true;
}

// A self-signed certificate and key, as gtlssh-keygen makes them.
bool SelfSigned(const QString& dir, const QString& name, const QString& cn, QString& error) {
  return OpenSsl(dir,
                 {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out",
                  name + ".crt", "-days", "2", "-subj", "/CN=" + cn},
                 error);
}

}  // namespace

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

int FreeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  socklen_t n = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(s);
  return port;
}

bool Listening(int port) {
  // ser2net's listening socket keeps anyone else from binding the port; connecting to find out
  // would start a session on the device.
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  const bool taken = ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
  ::close(s);
  return taken;
}

bool Accepts(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(port);
  const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(s);
  return ok;
}

// ---- SilentServer ---------------------------------------------------------------------------

SilentServer::SilentServer() {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  socklen_t n = sizeof a;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 8) == 0 &&
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n) == 0) {
    port_ = ntohs(a.sin_port);
  }
}

SilentServer::~SilentServer() {
  if (fd_ >= 0) ::close(fd_);
}

// ---- TlsBench -------------------------------------------------------------------------------

bool TlsBench::Make(const QString& dir, QString& error) {
  dir_ = dir;
  const QString allowed = AuthDir() + "/bench/allowed_certs";
  if (!QDir().mkpath(allowed) || !QDir().mkpath(dir + "/other")) {
    error = "cannot make " + allowed;
    return false;
  }
  // The CA and the server's certificate it signs; another CA that signs nothing of ours.
  if (!SelfSigned(dir, "ca", "zelnet test CA", error) ||
      !SelfSigned(dir, "other/ca", "zelnet other CA", error) ||
      !OpenSsl(dir,
               {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out",
                "server.csr", "-subj", "/CN=127.0.0.1"},
               error) ||
      !OpenSsl(dir,
               {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                "-CAcreateserial", "-out", "server.crt", "-days", "2"},
               error)) {
    return false;
  }
  // The authorised client "bench", known to ser2net's authdir, and an unknown one of the same
  // name.
  if (!SelfSigned(dir, "bench", "bench", error) || !SelfSigned(dir, "stranger", "bench", error))
    return false;
  if (!QFile::copy(dir + "/bench.crt", allowed + "/bench.crt") ||
      !OpenSsl(dir, {"rehash", allowed}, error)) {
    if (error.isEmpty()) error = "cannot copy the client certificate";
    return false;
  }
  const struct {
    Client who;
    QString name;
    QString ca;
  } clients[] = {{Client::Authorised, "bench", "ca.crt"},
                 {Client::Unknown, "stranger", "ca.crt"},
                 {Client::UntrustingCa, "bench", "other/ca.crt"}};
  for (const auto& c : clients) {
    const QString tls = ConfigHome(c.who) + "/zelnet/tls";
    if (!QDir().mkpath(tls) || !QFile::copy(dir + "/" + c.name + ".crt", tls + "/client.crt") ||
        !QFile::copy(dir + "/" + c.name + ".key", tls + "/client.key") ||
        !QFile::copy(dir + "/" + c.ca, tls + "/ca.crt")) {
      error = "cannot lay out " + tls;
      return false;
    }
  }
  return true;
}

QString TlsBench::ServerOptions() const {
  return QStringLiteral("key=%1/server.key,cert=%1/server.crt,clientauth").arg(dir_);
}

QString TlsBench::ConfigHome(Client who) const {
  switch (who) {
    case Client::Authorised:
      return dir_ + "/home-authorised";
    case Client::Unknown:
      return dir_ + "/home-unknown";
    case Client::UntrustingCa:
      break;
  }
  return dir_ + "/home-untrusting";
}

// ---- Ser2net --------------------------------------------------------------------------------

namespace {

QString Ser2netProgram() {
  const QString inPath = QStandardPaths::findExecutable("ser2net");
  return inPath.isEmpty() ? QStandardPaths::findExecutable("ser2net", {"/usr/sbin", "/sbin"})
                          : inPath;
}

}  // namespace

bool Ser2net::Available() {
  return !Ser2netProgram().isEmpty() && !QStandardPaths::findExecutable("socat").isEmpty() &&
         !QStandardPaths::findExecutable("openssl").isEmpty();
}

int Ser2net::Add(const std::string& device, Kind kind, const QString& connectorLine) {
  connections_.push_back({device, kind, connectorLine, 0});
  return static_cast<int>(connections_.size()) - 1;
}

bool Ser2net::Start(QString& error) {
  QByteArray yaml;
  bool tls = false;
  for (size_t i = 0; i < connections_.size(); ++i) tls |= connections_[i].kind == Kind::Rfc2217Tls;
  if (tls && !tls_.Make(dir_.filePath("tls"), error)) return false;
  for (size_t i = 0; i < connections_.size(); ++i) {
    Connection& c = connections_[i];
    c.port = FreeLoopbackPort();
    if (c.port == 0) return error = "no free port on 127.0.0.1", false;
    const QString stack = c.kind == Kind::Raw ? QStringLiteral("tcp")
                          : c.kind == Kind::Rfc2217
                              ? QStringLiteral("telnet(rfc2217),tcp")
                              : "telnet(rfc2217),ssl(" + tls_.ServerOptions() + "),tcp";
    yaml += QStringLiteral(
                "connection: &port%1\n"
                "  accepter: %2,127.0.0.1,%3\n"
                "  connector: serialdev,%4,%5,local\n"
                "  options:\n"
                "    kickolduser: true\n")
                .arg(i)
                .arg(stack)
                .arg(c.port)
                .arg(QString::fromStdString(c.device), c.line)
                .toUtf8();
    if (c.kind == Kind::Rfc2217Tls) yaml += "    authdir: " + tls_.AuthDir().toUtf8() + "\n";
  }
  const QString config = dir_.filePath("ser2net.yaml");
  if (!WriteFile(config, yaml)) return error = "cannot write " + config, false;
  Prepare(ser2net_);
  ser2net_.start(Ser2netProgram(), {"-d", "-u", "-c", config, "-P", dir_.filePath("ser2net.pid")});
  for (const Connection& c : connections_) {
    if (!WaitFor([&] { return Listening(c.port); }, 10000)) {
      return error = "ser2net does not listen: " + QString::fromLocal8Bit(ser2net_.readAll()),
             false;
    }
  }
  return true;
}

void Ser2net::Stop() {
  End(ser2net_);
}

QString Ser2net::TargetText(int i) const {
  const char* scheme = connections_[i].kind == Kind::Raw       ? "tcp"
                       : connections_[i].kind == Kind::Rfc2217 ? "rfc2217"
                                                               : "rfc2217s";
  return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(connections_[i].port);
}

bool Ser2net::StartSocat(int i, QString& error) {
  Prepare(socat_);
  socat_.start("socat", {QStringLiteral("pty,link=%1,raw,echo=0").arg(LocalPath()),
                         QStringLiteral("tcp:127.0.0.1:%1").arg(connections_[i].port)});
  if (!WaitFor([&] { return QFileInfo::exists(LocalPath()); }, 10000)) {
    return error = "socat makes no pty: " + QString::fromLocal8Bit(socat_.readAll()), false;
  }
  return true;
}

Ser2net::~Ser2net() {
  End(socat_);
  End(ser2net_);
}

// ---- Rfc2217Recorder ------------------------------------------------------------------------

bool Rfc2217Recorder::Available() {
  QProcess p;
  p.start("/usr/bin/python3", {"-c", "import serial.rfc2217"});
  return p.waitForFinished(20000) && p.exitCode() == 0;
}

bool Rfc2217Recorder::Start(QString& error) {
  server_.setProcessChannelMode(QProcess::SeparateChannels);
  server_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  server_.start("/usr/bin/python3", {ZELNET_RFC2217_RECORDER});
  if (!WaitFor(
          [&] {
            out_ += server_.readAllStandardOutput();
            const int at = out_.indexOf(" port ");
            if (at < 0 || !out_.contains('\n')) return false;
            port_ = out_.mid(at + 6, out_.indexOf('\n', at) - at - 6).toInt();
            return true;
          },
          20000)) {
    error = "the RFC 2217 recorder does not start: " +
            QString::fromLocal8Bit(server_.readAllStandardError());
    return false;
  }
  return port_ > 0;
}

QString Rfc2217Recorder::TargetText() const {
  return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port_);
}

std::vector<Rfc2217Recorder::Control> Rfc2217Recorder::Controls() {
  out_ += server_.readAllStandardOutput();
  std::vector<Control> controls;
  for (const QByteArray& line : out_.split('\n')) {
    const QList<QByteArray> words = line.split(' ');
    if (words.size() != 3 || words[1] == "port") continue;
    controls.push_back({QString::fromUtf8(words[1] + ' ' + words[2]), words[0].toDouble()});
  }
  return controls;
}

Rfc2217Recorder::~Rfc2217Recorder() {
  End(server_);
}

}  // namespace zelnet::test
