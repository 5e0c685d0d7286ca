#include "Target.h"

#include <QRegularExpression>

namespace zelnet_ports {

namespace {

std::optional<Target> Fail(QString* error, const QString& why) {
  if (error) *error = why;
  return std::nullopt;
}

}  // namespace

std::optional<Target> ParseTarget(const QString& text, QString* error) {
  Target t;
  t.text = text;
  if (text.isEmpty()) return Fail(error, QStringLiteral("empty target"));
  if (text.startsWith(QLatin1Char('/'))) {
    t.kind = TargetKind::Device;
    return t;
  }
  if (text.startsWith(QLatin1String("gensio:"))) {
    t.kind = TargetKind::Gensio;
    t.gensio = text.mid(7);
    if (t.gensio.trimmed().isEmpty()) return Fail(error, QStringLiteral("empty gensio stack"));
    return t;
  }
  // HOST is a name, an IPv4 address or an IPv6 address in brackets.
  static const QRegularExpression net(QStringLiteral(
      "^(rfc2217s|rfc2217|tcp)://(\\[[0-9A-Fa-f:.]+\\]|[A-Za-z0-9_.-]+):([0-9]{1,5})$"));
  const QRegularExpressionMatch m = net.match(text);
  if (!m.hasMatch()) {
    return Fail(error, QStringLiteral("not a device path (/dev/...) nor rfc2217://HOST:PORT, "
                                      "rfc2217s://HOST:PORT, tcp://HOST:PORT or gensio:STACK"));
  }
  const QString scheme = m.captured(1);
  t.kind = scheme == QLatin1String("tcp")       ? TargetKind::Tcp
           : scheme == QLatin1String("rfc2217") ? TargetKind::Rfc2217
                                                : TargetKind::Rfc2217Tls;
  t.host = m.captured(2);
  if (t.host.startsWith(QLatin1Char('['))) t.host = t.host.mid(1, t.host.size() - 2);
  const int port = m.captured(3).toInt();
  if (port < 1 || port > 65535) return Fail(error, QStringLiteral("port out of 1-65535"));
  t.port = static_cast<quint16>(port);
  return t;
}

}  // namespace zelnet_ports
