#include "PortMap.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <cstdio>
#include <optional>

#include "Discovery.h"
#include "PortMapFile.h"

namespace zelnet_ports {

namespace {

QMutex warningMutex;
QSet<QString> warned;
std::function<void(const QString&)> warningHandler;

void Warn(const PortMapFile& map) {
  for (const MapWarning& warning : map.Warnings()) {
    const QString text = warning.Text();
    std::function<void(const QString&)> handler;
    {
      QMutexLocker lock(&warningMutex);
      if (warned.contains(text)) continue;
      warned.insert(text);
      handler = warningHandler;
    }
    if (handler) {
      handler(text);
    } else {
      QString program = QCoreApplication::applicationName();
      if (program.isEmpty()) program = QStringLiteral("zelnet");
      std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(text));
    }
  }
}

// What the environment and the two maps say of COM<n>, in that order.
class Named {
 public:
  Named() : user_(PortMapFile::Load(UserMapPath())), system_(PortMapFile::Load(SystemMapPath())) {
    Warn(user_);
    Warn(system_);
  }

  std::optional<Resolution> Of(int n) const {
    Resolution r;
    r.name = QStringLiteral("COM%1").arg(n);
    const QByteArray fromEnv = qgetenv(("ZELNET_COM" + QByteArray::number(n)).constData());
    if (!fromEnv.isEmpty()) {
      r.target = QString::fromLocal8Bit(fromEnv);
      r.source = Source::Environment;
      return r;
    }
    for (const auto& [map, source] :
         {std::pair{&user_, Source::UserMap}, std::pair{&system_, Source::SystemMap}}) {
      r.target = map->Target(n, &r.line);
      if (!r.target.isEmpty()) {
        r.source = source;
        r.file = map->Path();
        return r;
      }
    }
    return std::nullopt;
  }

 private:
  PortMapFile user_;
  PortMapFile system_;
};

}  // namespace

int ComNumber(const QString& name) {
  static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"),
                                      QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch m = com.match(name);
  return m.hasMatch() ? m.captured(1).toInt() : 0;
}

Resolution Resolve(const QString& name) {
  Resolution r;
  r.name = name;
  r.target = name;
#ifndef Q_OS_WIN
  const int n = ComNumber(name);
  if (n == 0) return r;
  const Named named;
  if (std::optional<Resolution> found = named.Of(n)) {
    found->name = name;
    return *found;
  }
  r.source = Source::Automatic;
  r.target.clear();
  // The names that the environment or a map gives, and the ports they reach.
  const QString root = SystemRoot();
  const std::vector<Adapter> ports = DiscoverPorts(root);
  QSet<QString> reached;
  int unnamedBefore = 0;
  for (int k = 1; k <= std::max(n - 1, kMapPorts); ++k) {
    if (k == n) continue;
    const std::optional<Resolution> other = named.Of(k);
    if (!other) {
      if (k < n) ++unnamedBefore;
      continue;
    }
    if (const Adapter* adapter = FindAdapter(ports, other->target, root))
      reached.insert(adapter->kernelName);
  }
  int index = 0;
  for (const Adapter& port : ports) {
    if (reached.contains(port.kernelName)) continue;
    if (index++ == unnamedBefore) {
      r.target = port.devicePath;
      break;
    }
  }
#endif
  return r;
}

QString UserMapPath() {
  QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
  // A relative XDG path is invalid and ignored, as the base directory rules say.
  if (config.isEmpty() || QDir::isRelativePath(config))
    config = QDir::homePath() + QStringLiteral("/.config");
  return config + QStringLiteral("/zelnet/ports.conf");
}

QString SystemMapPath() {
  return SystemRoot() + QStringLiteral("/etc/zelnet/ports.conf");
}

QString SourceText(Source source) {
  switch (source) {
    case Source::Environment:
      return QStringLiteral("environment");
    case Source::UserMap:
      return QStringLiteral("user map");
    case Source::SystemMap:
      return QStringLiteral("system map");
    case Source::Automatic:
      return QStringLiteral("automatic");
    case Source::Literal:
      break;
  }
  return QStringLiteral("as given");
}

void SetWarningHandler(std::function<void(const QString& text)> handler) {
  QMutexLocker lock(&warningMutex);
  warningHandler = std::move(handler);
}

}  // namespace zelnet_ports
