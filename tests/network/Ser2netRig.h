// ser2net on 127.0.0.1 serving pseudo-terminals, as a bench host serves its validators: plain
// TCP (with socat's pty in front, the old route), RFC 2217, and RFC 2217 inside TLS with client
// authentication (certificates made here with openssl). Also a silent server, and a small RFC
// 2217 server that records the serial controls it is asked for. Every process started here ends
// with the test, even one that crashes.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelnet::test {

// Waits until `ready` holds, processing events, for at most `ms`.
bool WaitFor(const std::function<bool()>& ready, int ms);
// A TCP port on 127.0.0.1 that was free a moment ago.
int FreeLoopbackPort();
// Whether something accepts connections on 127.0.0.1:port (connecting to find out).
bool Accepts(int port);
// Whether something listens on 127.0.0.1:port (without connecting).
bool Listening(int port);

// A listening socket on 127.0.0.1 that accepts connections (the kernel's backlog does) and
// never says a word.
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Certificates for a TLS bench: a CA and the server's certificate it signs, a client
// certificate that ser2net's authdir allows, and one it does not know.
class TlsBench {
 public:
  enum class Client { Authorised, Unknown, UntrustingCa };
  // Makes everything in `dir`; false with openssl's words in `error`.
  bool Make(const QString& dir, QString& error);
  QString ServerOptions() const;  // "key=...,cert=...,clientauth"
  QString AuthDir() const { return dir_ + "/auth"; }
  // An XDG_CONFIG_HOME whose zelnet/tls/ holds client.crt, client.key and ca.crt of `who`
  // (UntrustingCa: the authorised client with a CA that did not sign the server).
  QString ConfigHome(Client who) const;

 private:
  QString dir_;
};

class Ser2net {
 public:
  enum class Kind { Raw, Rfc2217, Rfc2217Tls };

  static bool Available();

  // Serves `device` on a free port; the connector's own line setting is `connectorLine`.
  // Returns the connection's index.
  int Add(const std::string& device, Kind kind, const QString& connectorLine = "9600n81");
  bool Start(QString& error);
  // Ends ser2net now, as a server that goes away.
  void Stop();
  bool Running() const { return ser2net_.state() == QProcess::Running; }
  // What ser2net has said so far (its log lines), for a failing test's message.
  QString Output() { return QString::fromLocal8Bit(ser2net_.readAll()); }

  int Port(int i) const { return connections_[i].port; }
  // "tcp://127.0.0.1:P", "rfc2217://127.0.0.1:P" or "rfc2217s://127.0.0.1:P".
  QString TargetText(int i) const;
  const TlsBench& Tls() const { return tls_; }

  // socat's pty in front of connection i (a Raw one), at LocalPath().
  bool StartSocat(int i, QString& error);
  QString LocalPath() const { return dir_.filePath("com"); }

  ~Ser2net();

 private:
  struct Connection {
    std::string device;
    Kind kind;
    QString line;
    int port;
  };
  QTemporaryDir dir_;
  std::vector<Connection> connections_;
  TlsBench tls_;
  QProcess ser2net_;
  QProcess socat_;
};

// A small RFC 2217 server (python3-serial's port manager on a loop-back port) that writes every
// serial control it is asked for to a log: "rts 1", "rts 0", "dtr 0", "baud 19200". Bytes
// written to it come back. It holds back its own offer of the COM-PORT option, as ser2net
// does, so the client's offer is the one agreed.
class Rfc2217Recorder {
 public:
  static bool Available();
  bool Start(QString& error);
  int Port() const { return port_; }
  QString TargetText() const;
  // The controls asked for so far, in order, each with the milliseconds since start.
  struct Control {
    QString what;
    double ms;
  };
  std::vector<Control> Controls();
  ~Rfc2217Recorder();

 private:
  QTemporaryDir dir_;
  QProcess server_;
  int port_ = 0;
  QByteArray out_;
};

}  // namespace zelnet::test
