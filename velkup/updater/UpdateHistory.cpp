#include "UpdateHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>

namespace velkup {

const char* ImageKey(TImage image) {
  switch (image) {
    case TImage::Encryption:
      return "encryption";
    case TImage::BVControl:
      return "bvcontrol";
    case TImage::Validation:
      return "validation";
  }
  return "";
}

QString ImageTitle(TImage image) {
  switch (image) {
    case TImage::Encryption:
      return QStringLiteral("Encryption");
    case TImage::BVControl:
      return QStringLiteral("BV Control");
    case TImage::Validation:
      return QStringLiteral("Validation");
  }
  return {};
}

QString FailureText(const TImageReport& r) {
  switch (r.failure) {
    case TImageFailure::None:
      return {};
    case TImageFailure::Refused:
      return QStringLiteral("refused with code ") +
             QStringLiteral("%1").arg(r.refusedCode, 2, 16, QLatin1Char('0')).toUpper();
    case TImageFailure::NoAnswer:
      return QStringLiteral("no answer");
    case TImageFailure::PortLost:
      return QStringLiteral("port lost");
    case TImageFailure::PortNotOpen:
      return r.problem.isEmpty() ? QStringLiteral("port cannot be opened")
                                 : QStringLiteral("port cannot be opened: ") + r.problem;
    case TImageFailure::Stopped:
      return QStringLiteral("stopped");
  }
  return {};
}

QJsonObject ImageOutcomeJson(const TImageReport& r) {
  QJsonObject o;
  o["name"] = ImageKey(r.image);
  o["blocks_written"] = static_cast<qint64>(r.blocksWritten);
  o["result"] = r.Written() ? "ok" : "failed";
  if (!r.Written()) {
    o["failed_block_address"] = static_cast<qint64>(r.failedBlockAddress);
    o["reason"] = FailureText(r);
  }
  return o;
}

void AddUnitFields(QJsonObject& o, const TUnitCheck& unit) {
  const auto& before = unit.before;
  const auto& after = unit.after;
  o["serial_number"] = before ? QJsonValue(before->serialNumber) : QJsonValue();
  o["part_number"] = before ? QJsonValue(before->partNumber) : QJsonValue();
  o["part_number_after"] = after.identity ? QJsonValue(after.identity->partNumber) : QJsonValue();
  // Seven bytes reach beyond what a JSON number keeps exactly: decimal digits in a string.
  o["asset_number"] = before ? QJsonValue(QString::number(before->assetNumber)) : QJsonValue();
  o["came_back_s"] = unit.verified && after.back ? QJsonValue(after.seconds) : QJsonValue();
}

QString FamilyKey(int bvTypeIndex) {
  return bvTypeIndex == 0 ? QStringLiteral("qa") : bvTypeIndex == 1 ? QStringLiteral("qb") : "";
}

QString TUpdateHistory::DefaultPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/Velkup/history.jsonl");
}

QString TUpdateHistory::Path() const {
  return path_.isEmpty() ? DefaultPath() : path_;
}

QJsonObject TUpdateHistory::EntryJson(const THistoryEntry& e) {
  QJsonObject o;
  o["time"] = e.time.toUTC().toString(Qt::ISODateWithMs);
  o["program"] = e.program;
  o["port"] = e.port;
  if (!e.run.target.isEmpty() && e.run.target != e.port) o["target"] = e.run.target;
  const QString family = FamilyKey(e.run.bvTypeIndex);
  o["family"] = family.isEmpty() ? QJsonValue() : QJsonValue(family);
  o["baud"] = static_cast<qint64>(e.run.baud);
  o["file"] = e.fileName;
  o["sha256"] = e.run.sha256;
  QJsonArray chosen, outcome;
  for (const TImageReport& r : e.run.images) {
    if (!r.chosen) continue;
    chosen.append(ImageKey(r.image));
    outcome.append(ImageOutcomeJson(r));
  }
  o["images"] = chosen;
  o["outcome"] = outcome;
  o["seconds"] = e.run.seconds;
  if (!e.result.isEmpty()) o["result"] = e.result;
  if (!e.reason.isEmpty()) o["reason"] = e.reason;
  if (e.unit) AddUnitFields(o, *e.unit);
  return o;
}

bool TUpdateHistory::Append(const std::vector<THistoryEntry>& entries, QString* error) const {
  const QString path = Path();
  auto fail = [&](const QString& why) {
    if (error) *error = QStringLiteral("cannot write the update history %1: %2").arg(path, why);
    return false;
  };
  if (!QDir().mkpath(QFileInfo(path).absolutePath()))
    return fail(QStringLiteral("cannot create its folder"));
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
    return fail(f.errorString());
  for (const THistoryEntry& e : entries) {
    // One write per line, so that lines of programs appending at once never interleave.
    const QByteArray line = QJsonDocument(EntryJson(e)).toJson(QJsonDocument::Compact) + '\n';
    if (f.write(line) != line.size()) return fail(f.errorString());
  }
  return true;
}

void TUpdateHistory::Record(const std::vector<THistoryEntry>& entries) const {
  QString error;
  if (!Append(entries, &error)) {
    std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    std::fflush(stderr);
  }
}

namespace {

// Far beyond any entry: a longer line is no entry.
constexpr qint64 kHistoryLineMax = 64 * 1024;

}  // namespace

QString HistoryResult(const QJsonObject& entry) {
  if (entry["result"].isString()) return entry["result"].toString();
  const QJsonArray outcome = entry["outcome"].toArray();
  bool ok = !outcome.isEmpty();
  for (const auto& v : outcome) ok = ok && v.toObject()["result"].toString() == "ok";
  return ok ? QStringLiteral("ok") : QStringLiteral("failed");
}

THistoryRead ReadUpdateHistory(const QString& path, const QString& serialNumber) {
  THistoryRead read;
  const QFileInfo info(path);
  if (!info.exists()) {
    read.opened = true;  // no update recorded yet
    return read;
  }
  if (!info.isFile()) {
    read.error = QStringLiteral("%1 is not a regular file").arg(path);
    return read;
  }
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    read.error = QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
    return read;
  }
  read.opened = true;
  qint64 number = 0;
  while (!f.atEnd()) {
    ++number;
    QByteArray line = f.readLine(kHistoryLineMax);
    bool damaged = false;
    if (!line.endsWith('\n') && !f.atEnd()) {
      // Too long: skip to its end.
      damaged = true;
      while (!f.atEnd() && !f.readLine(kHistoryLineMax).endsWith('\n')) {
      }
    }
    if (line.trimmed().isEmpty() && !damaged) continue;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    const QJsonObject o = doc.object();
    if (damaged || error.error != QJsonParseError::NoError || !doc.isObject() ||
        !o["time"].isString() || !o["port"].isString()) {
      read.damagedLines.push_back(number);
      continue;
    }
    if (!serialNumber.isEmpty() && o["serial_number"].toString() != serialNumber) continue;
    read.entries.push_back(o);
  }
  // Appended as runs end, so a long run may follow a shorter later one: newest last by time.
  std::stable_sort(read.entries.begin(), read.entries.end(),
                   [](const QJsonObject& a, const QJsonObject& b) {
                     return a["time"].toString() < b["time"].toString();
                   });
  return read;
}

}  // namespace velkup
