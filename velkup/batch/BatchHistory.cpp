#include "BatchHistory.h"

#include <QDateTime>
#include <QJsonArray>
#include <QStringList>
#include <algorithm>
#include <cstdio>

#include "UpdateHistory.h"

namespace velkup {

namespace {

QString Text(const QJsonObject& e, const char* key) {
  const QJsonValue v = e[QLatin1String(key)];
  if (v.isString()) return v.toString();
  if (v.isDouble()) return QString::number(v.toDouble());
  return {};
}

QString TimeText(const QJsonObject& e) {
  const QDateTime t = QDateTime::fromString(e["time"].toString(), Qt::ISODateWithMs);
  return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + " UTC"
                     : e["time"].toString();
}

// The result, with why it failed: the unit's reason, else each failed image's.
QString ResultText(const QJsonObject& e) {
  QString result = HistoryResult(e);
  QStringList why;
  if (e["reason"].isString()) why << e["reason"].toString();
  for (const auto& v : e["outcome"].toArray()) {
    const QJsonObject image = v.toObject();
    if (image["result"].toString() != "ok" && image["reason"].isString())
      why << image["name"].toString() + ": " + image["reason"].toString();
  }
  return why.isEmpty() ? result : result + " (" + why.join(QStringLiteral("; ")) + ")";
}

QString CameBackText(const QJsonObject& e) {
  const QJsonValue v = e["came_back_s"];
  return v.isDouble() ? QString::number(v.toDouble(), 'f', 1) + " s" : QStringLiteral("-");
}

QString OrDash(const QString& s) {
  return s.isEmpty() ? QStringLiteral("-") : s;
}

// RFC 4180 quoting; a text from a unit that starts like a formula is kept as text.
QString CsvField(QString s, bool fromUnit = false) {
  if (fromUnit && !s.isEmpty() && QStringLiteral("=+-@").contains(s[0])) s.prepend('\'');
  if (s.contains(',') || s.contains('"') || s.contains('\n') || s.contains('\r'))
    s = '"' + s.replace('"', QStringLiteral("\"\"")) + '"';
  return s;
}

}  // namespace

QString HistoryTable(const std::vector<QJsonObject>& entries) {
  const QStringList heads = {"TIME",      "PORT",    "SERIAL", "PART", "RESULT",
                             "CAME BACK", "SECONDS", "SHA256", "FILE"};
  std::vector<QStringList> rows;
  for (const QJsonObject& e : entries)
    rows.push_back({TimeText(e), Text(e, "port"), OrDash(Text(e, "serial_number")),
                    OrDash(Text(e, "part_number")), ResultText(e), CameBackText(e),
                    QString::number(e["seconds"].toDouble(), 'f', 1), Text(e, "sha256").left(12),
                    Text(e, "file")});
  std::vector<qsizetype> width;
  for (const QString& h : heads) width.push_back(h.size());
  for (const QStringList& r : rows)
    for (qsizetype c = 0; c < r.size(); ++c)
      width[static_cast<size_t>(c)] = std::max(width[static_cast<size_t>(c)], r[c].size());
  auto line = [&](const QStringList& cells) {
    QString text;
    for (qsizetype c = 0; c < cells.size(); ++c)
      text += c + 1 < cells.size()
                  ? cells[c].leftJustified(width[static_cast<size_t>(c)]) + QStringLiteral("  ")
                  : cells[c];
    return text + '\n';
  };
  QString table = line(heads);
  for (const QStringList& r : rows) table += line(r);
  return table;
}

QString HistoryCsv(const std::vector<QJsonObject>& entries) {
  QString csv = QStringLiteral(
      "time,program,port,family,baud,serial_number,part_number,part_number_after,asset_number,"
      "result,reason,came_back_s,seconds,file,sha256,images\n");
  for (const QJsonObject& e : entries) {
    QStringList images;
    for (const auto& v : e["images"].toArray()) images << v.toString();
    QStringList reasons;
    if (e["reason"].isString()) reasons << e["reason"].toString();
    for (const auto& v : e["outcome"].toArray())
      if (v.toObject()["reason"].isString())
        reasons << v.toObject()["name"].toString() + ": " + v.toObject()["reason"].toString();
    const QJsonValue back = e["came_back_s"];
    const QStringList fields = {
        CsvField(Text(e, "time")),
        CsvField(Text(e, "program")),
        CsvField(Text(e, "port")),
        CsvField(Text(e, "family")),
        CsvField(Text(e, "baud")),
        CsvField(Text(e, "serial_number"), true),
        CsvField(Text(e, "part_number"), true),
        CsvField(Text(e, "part_number_after"), true),
        CsvField(Text(e, "asset_number")),
        CsvField(HistoryResult(e)),
        CsvField(reasons.join(QStringLiteral("; "))),
        back.isDouble() ? QString::number(back.toDouble(), 'f', 1) : QString(),
        QString::number(e["seconds"].toDouble(), 'f', 1),
        CsvField(Text(e, "file")),
        CsvField(Text(e, "sha256")),
        CsvField(images.join(' '))};
    csv += fields.join(',') + '\n';
  }
  return csv;
}

int PrintHistory(const QString& path, const QString& serialNumber, bool csv) {
  const TUpdateHistory history(path);
  const THistoryRead read = ReadUpdateHistory(history.Path(), serialNumber);
  if (!read.opened) {
    std::fprintf(stderr, "velkup-batch: %s\n", read.error.toLocal8Bit().constData());
    return 2;
  }
  for (qint64 line : read.damagedLines)
    std::fprintf(stderr, "velkup-batch: warning: %s line %lld is damaged; skipped\n",
                 history.Path().toLocal8Bit().constData(), static_cast<long long>(line));
  std::fflush(stderr);
  const QString text = csv ? HistoryCsv(read.entries) : HistoryTable(read.entries);
  std::fputs(text.toLocal8Bit().constData(), stdout);
  std::fflush(stdout);
  return 0;
}

}  // namespace velkup
