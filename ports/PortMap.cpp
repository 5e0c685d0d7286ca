#include "PortMap.h"

#include <QRegularExpression>

namespace zelnet_ports {

Resolution Resolve(const QString& name) {
  Resolution r;
  r.name = name;
  r.target = name;
#ifndef Q_OS_WIN
  static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"),
                                      QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch m = com.match(name);
  if (!m.hasMatch()) return r;
  const int n = m.captured(1).toInt();
  const QByteArray fromEnv = qgetenv(("ZELNET_COM" + QByteArray::number(n)).constData());
  if (!fromEnv.isEmpty()) {
    r.target = QString::fromLocal8Bit(fromEnv);
    r.source = Source::Environment;
    return r;
  }
  r.target = QStringLiteral("/dev/ttyS%1").arg(n - 1);
  r.source = Source::Automatic;
#endif
  return r;
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

}  // namespace zelnet_ports
