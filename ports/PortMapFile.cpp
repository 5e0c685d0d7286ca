#include "PortMapFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include "Target.h"

namespace zelnet_ports {

namespace {

// A map larger than this is not a port map; only its beginning is read.
constexpr qint64 kMaxMapBytes = 64 * 1024;

// Splits "TARGET # comment" into the target and the comment: a '#' starts a comment at the
// beginning of the value or after a blank.
void SplitComment(const QString& value, QString& target, QString& comment) {
  qsizetype hash = -1;
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i] == QLatin1Char('#') && (i == 0 || value[i - 1].isSpace())) {
      hash = i;
      break;
    }
  }
  if (hash < 0) {
    target = value.trimmed();
    comment.clear();
    return;
  }
  target = value.left(hash).trimmed();
  comment = value.mid(hash).trimmed();
}

}  // namespace

QString MapWarning::Text() const {
  return QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(message);
}

PortMapFile PortMapFile::Load(const QString& path) {
  QFile file(path);
  if (!file.exists()) {
    PortMapFile map;
    map.path_ = path;
    return map;
  }
  if (!file.open(QIODevice::ReadOnly)) {
    PortMapFile map;
    map.path_ = path;
    map.warnings_.push_back({path, 0, QStringLiteral("cannot read: %1").arg(file.errorString())});
    return map;
  }
  PortMapFile map = Parse(path, file.read(kMaxMapBytes));
  if (!file.atEnd()) {
    map.warnings_.push_back(
        {path, 0, QStringLiteral("longer than %1 bytes, the rest is not read").arg(kMaxMapBytes)});
  }
  return map;
}

PortMapFile PortMapFile::Parse(const QString& path, const QByteArray& contents) {
  PortMapFile map;
  map.path_ = path;
  const QString text = QString::fromUtf8(contents);
  QStringList lines = text.split(QLatin1Char('\n'));
  map.finalNewline_ = text.isEmpty() || text.endsWith(QLatin1Char('\n'));
  if (text.endsWith(QLatin1Char('\n')) || text.isEmpty()) lines.removeLast();
  for (QString& raw : lines) {
    if (raw.endsWith(QLatin1Char('\r'))) raw.chop(1);
    map.lines_.push_back({raw, 0, {}, {}, false});
  }
  map.Reparse();
  return map;
}

// Classifies every line again and collects the warnings.
void PortMapFile::Reparse() {
  static const QRegularExpression comKey(QStringLiteral("^COM([0-9]+)$"),
                                         QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression anyKey(QStringLiteral("^[A-Za-z_][A-Za-z0-9_.-]*$"));
  warnings_.clear();
  int firstLine[kMapPorts + 1] = {};
  for (size_t i = 0; i < lines_.size(); ++i) {
    Line& line = lines_[i];
    const int number = static_cast<int>(i) + 1;
    line.port = 0;
    line.target.clear();
    line.comment.clear();
    line.effective = false;
    const QString trimmed = line.text.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#'))) continue;
    const auto warn = [&](const QString& message) {
      warnings_.push_back({path_, number, message + QStringLiteral(", line skipped")});
    };
    const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
    if (equals < 0) {
      warn(QStringLiteral("not COM<n> = TARGET"));
      continue;
    }
    const QString key = trimmed.left(equals).trimmed();
    if (!anyKey.match(key).hasMatch()) {
      warn(QStringLiteral("not COM<n> = TARGET"));
      continue;
    }
    const QRegularExpressionMatch com = comKey.match(key);
    const int n = com.hasMatch() && com.captured(1).size() <= 3 ? com.captured(1).toInt() : 0;
    if (n < 1 || n > kMapPorts) {
      warn(QStringLiteral("unknown key \"%1\" (the keys are COM1 to COM%2)")
               .arg(key)
               .arg(kMapPorts));
      continue;
    }
    line.port = n;
    QString target;
    SplitComment(trimmed.mid(equals + 1), target, line.comment);
    if (target.isEmpty()) {
      warn(QStringLiteral("COM%1 has no target").arg(n));
      continue;
    }
    QString why;
    if (!ParseTarget(target, &why)) {
      warn(QStringLiteral("COM%1: bad target \"%2\": %3").arg(n).arg(target, why));
      continue;
    }
    if (firstLine[n]) {
      warn(QStringLiteral("COM%1 is named again (first on line %2)").arg(n).arg(firstLine[n]));
      continue;
    }
    firstLine[n] = number;
    line.target = target;
    line.effective = true;
  }
}

QString PortMapFile::Target(int n, int* line) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].effective && lines_[i].port == n) {
      if (line) *line = static_cast<int>(i) + 1;
      return lines_[i].target;
    }
  }
  if (line) *line = 0;
  return {};
}

QString PortMapFile::EntryText(int n, const QString& target, const QString& comment) {
  QString text = QStringLiteral("COM%1 = %2").arg(n).arg(target);
  if (!comment.isEmpty()) text += QStringLiteral("  ") + comment;
  return text;
}

void PortMapFile::Set(int n, const QString& target) {
  bool placed = false;
  for (auto it = lines_.begin(); it != lines_.end();) {
    if (it->port != n) {
      ++it;
      continue;
    }
    if (placed) {
      it = lines_.erase(it);
      continue;
    }
    it->text = EntryText(n, target, it->comment);
    placed = true;
    ++it;
  }
  if (!placed) lines_.push_back({EntryText(n, target, {}), 0, {}, {}, false});
  finalNewline_ = true;
  Reparse();
}

bool PortMapFile::Unset(int n) {
  const size_t before = lines_.size();
  std::erase_if(lines_, [n](const Line& line) { return line.port == n; });
  Reparse();
  return lines_.size() != before;
}

QByteArray PortMapFile::Contents() const {
  QByteArray out;
  for (const Line& line : lines_) {
    out += line.text.toUtf8();
    out += '\n';
  }
  if (!finalNewline_ && !out.isEmpty()) out.chop(1);
  return out;
}

bool PortMapFile::Save(QString* error) const {
  const auto fail = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  const QString folder = QFileInfo(path_).absolutePath();
  if (!QDir().mkpath(folder))
    return fail(QStringLiteral("cannot create the folder %1").arg(folder));
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
  const QByteArray contents = Contents();
  if (file.write(contents) != contents.size()) return fail(file.errorString());
  if (!file.commit()) return fail(file.errorString());
  return true;
}

}  // namespace zelnet_ports
