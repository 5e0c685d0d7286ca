#include "BatchDisplay.h"

#include <QJsonArray>
#include <algorithm>

#include "UpdateHistory.h"

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace velkup {

namespace {

QString Elapsed(qint64 ms) {
  const qint64 s = ms / 1000;
  return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString BlockHex(uint32_t address) {
  return QStringLiteral("0x") +
         QString::number(address, 16).toUpper().rightJustified(5, QLatin1Char('0'));
}

QString FailureNote(const TImageReport& r) {
  return QStringLiteral("%1 failed at block %2: %3")
      .arg(ImageTitle(r.image), BlockHex(r.failedBlockAddress), FailureText(r));
}

uint32_t Percent(uint32_t written, uint32_t blocks) {
  return blocks ? written * 100 / blocks : 0;
}

int TerminalColumns([[maybe_unused]] std::FILE* out) {
#ifdef Q_OS_UNIX
  winsize ws{};
  if (::ioctl(::fileno(out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
#endif
  return 80;
}

}  // namespace

TBatchDisplay::TBatchDisplay(std::FILE* out, bool terminal, const QStringList& ports)
    : out_(out), terminal_(terminal), lines_(static_cast<size_t>(ports.size())) {
  int width = 4;
  for (const QString& p : ports) width = std::max(width, static_cast<int>(p.size()));
  for (qsizetype i = 0; i < ports.size(); ++i) {
    lines_[static_cast<size_t>(i)].port = ports[i].leftJustified(width);
    lines_[static_cast<size_t>(i)].phase = QStringLiteral("waiting");
  }
}

void TBatchDisplay::Print(const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void TBatchDisplay::PortStarted(int port) {
  std::lock_guard lock(mu_);
  TLine& l = lines_[static_cast<size_t>(port)];
  l.since.start();
  l.phase = QStringLiteral("starting");
  l.serial.clear();
  l.hasImage = false;
  l.failures.clear();
  l.endedMs = -1;
}

void TBatchDisplay::Activity(int port, const QString& text) {
  std::lock_guard lock(mu_);
  TLine& l = lines_[static_cast<size_t>(port)];
  l.phase = text;
  l.hasImage = false;
}

void TBatchDisplay::Identified(int port, const QString& serial) {
  std::lock_guard lock(mu_);
  lines_[static_cast<size_t>(port)].serial = serial;
}

void TBatchDisplay::Waiting(int port, const QString& text, bool keepSerial) {
  std::lock_guard lock(mu_);
  TLine& l = lines_[static_cast<size_t>(port)];
  if (!keepSerial) l.serial.clear();
  l.since.start();
  l.phase = text;
  l.hasImage = false;
  l.failures.clear();
  l.endedMs = -1;
}

void TBatchDisplay::UnitDone(int, const QString& line) {
  std::lock_guard lock(mu_);
  if (!terminal_ || closed_) {
    Print(line);
    return;
  }
  // Above the ports' lines, which are drawn again below it.
  QByteArray text;
  if (drawn_) text += "\x1b[" + QByteArray::number(lines_.size()) + "A";
  text += "\r" + line.toLocal8Bit() + "\x1b[J\n";
  std::fputs(text.constData(), out_);
  drawn_ = false;
  DrawLocked();
}

void TBatchDisplay::Phase(int port, TPhase phase) {
  std::lock_guard lock(mu_);
  lines_[static_cast<size_t>(port)].phase = QString::fromLatin1(PhaseText(phase));
}

void TBatchDisplay::Progress(int port, const TImageReport& r) {
  std::lock_guard lock(mu_);
  TLine& l = lines_[static_cast<size_t>(port)];
  const bool starting = !l.hasImage || l.image != r.image;
  if (starting) {
    l.hasImage = true;
    l.image = r.image;
    l.tenths = 0;
    l.imageSince.start();
  }
  l.written = r.blocksWritten;
  l.blocks = r.blocks;
  const QString title = ImageTitle(r.image);
  const QString head = l.port.trimmed() + QStringLiteral(": ") + title;
  const QString time = QString::number(static_cast<double>(l.imageSince.elapsed()) / 1000, 'f', 1);
  if (r.failure != TImageFailure::None) {
    l.failures << FailureNote(r);
    if (!terminal_)
      Print(QStringLiteral("%1: %2 (%3/%4 blocks written, %5 s)")
                .arg(l.port.trimmed(), FailureNote(r))
                .arg(r.blocksWritten)
                .arg(r.blocks)
                .arg(time));
    return;
  }
  if (terminal_) return;
  if (starting && r.blocksWritten == 0) {
    Print(QStringLiteral("%1 started (%2 blocks)").arg(head).arg(r.blocks));
  } else if (r.blocksWritten == r.blocks) {
    Print(QStringLiteral("%1 written (%2/%2 blocks, %3 s)").arg(head).arg(r.blocks).arg(time));
  } else {
    const uint32_t tenths = Percent(r.blocksWritten, r.blocks) / 10;
    if (tenths > l.tenths) {
      l.tenths = tenths;
      Print(QStringLiteral("%1 %2% (%3/%4 blocks)")
                .arg(head)
                .arg(tenths * 10)
                .arg(r.blocksWritten)
                .arg(r.blocks));
    }
  }
}

void TBatchDisplay::PortDone(int port) {
  std::lock_guard lock(mu_);
  TLine& l = lines_[static_cast<size_t>(port)];
  l.endedMs = l.since.isValid() ? l.since.elapsed() : 0;
  l.phase = QStringLiteral("done");
}

QString TBatchDisplay::LineText(const TLine& l) const {
  const qint64 ms = l.endedMs >= 0 ? l.endedMs : l.since.isValid() ? l.since.elapsed() : 0;
  QString text = l.port + QStringLiteral("  ");
  if (!l.serial.isEmpty()) text += l.serial + QStringLiteral("  ");
  if (l.hasImage)
    text += QStringLiteral("%1 %2% %3/%4")
                .arg(ImageTitle(l.image).leftJustified(10))
                .arg(Percent(l.written, l.blocks), 3)
                .arg(l.written, 4)
                .arg(l.blocks, -4);
  else
    text += l.phase.leftJustified(25);
  text += QStringLiteral("  ") + Elapsed(ms);
  if (l.endedMs >= 0) text += QStringLiteral("  done");
  if (!l.failures.isEmpty()) text += QStringLiteral("  ") + l.failures.join(QStringLiteral("; "));
  return text;
}

void TBatchDisplay::DrawLocked() {
  if (!terminal_ || closed_) return;
  const int columns = TerminalColumns(out_);
  QByteArray text;
  if (drawn_) text += "\x1b[" + QByteArray::number(lines_.size()) + "A";
  for (const TLine& l : lines_)
    text += "\r" + LineText(l).left(std::max(1, columns - 1)).toLocal8Bit() + "\x1b[K\n";
  std::fputs(text.constData(), out_);
  std::fflush(out_);
  drawn_ = true;
}

void TBatchDisplay::Redraw() {
  std::lock_guard lock(mu_);
  DrawLocked();
}

void TBatchDisplay::Close() {
  std::lock_guard lock(mu_);
  DrawLocked();
  closed_ = true;
}

bool PortWritten(const TRunReport& run) {
  bool any = false;
  for (const TImageReport& r : run.images) {
    if (!r.chosen) continue;
    any = true;
    if (!r.Written()) return false;
  }
  return any;
}

QString PortResultText(const TRunReport& run) {
  QStringList failures;
  for (const TImageReport& r : run.images)
    if (r.chosen && !r.Written()) failures << FailureNote(r);
  return failures.isEmpty() ? QStringLiteral("ok") : failures.join(QStringLiteral("; "));
}

namespace {

// The unit's result in the table: "ok", or what failed.
QString UnitResultText(const TUnitRecord& u) {
  QStringList why;
  if (!PortWritten(u.run)) why << PortResultText(u.run);
  if (!u.reason.isEmpty()) why << u.reason;
  return why.isEmpty() ? u.result : why.join(QStringLiteral("; "));
}

QString PartText(const TUnitCheck& c) {
  if (!c.before) return QStringLiteral("-");
  const QString before = c.before->partNumber;
  if (c.after.identity && c.after.identity->partNumber != before)
    return before + QStringLiteral(" -> ") + c.after.identity->partNumber;
  return before;
}

// The device a port name led to, "-" when it led to none.
QString TargetText(const TRunReport& run) {
  return run.target.isEmpty() ? QStringLiteral("-") : run.target;
}

QString CameBackCell(const TUnitCheck& c) {
  if (!c.verified) return QStringLiteral("-");
  if (!c.after.back) return QStringLiteral("no");
  return QString::number(c.after.seconds, 'f', 1) + QStringLiteral(" s");
}

}  // namespace

QString SummaryTable(const QStringList& ports, const std::vector<TUnitRecord>& units) {
  const QStringList heads = {"PORT",   "TARGET", "SERIAL",   "PART",
                             "RESULT", "BLOCKS", "DURATION", "CAME BACK"};
  std::vector<QStringList> rows;
  for (size_t i = 0; i < units.size(); ++i) {
    const TUnitRecord& u = units[i];
    uint32_t blocks = 0;
    for (const TImageReport& r : u.run.images) blocks += r.blocksWritten;
    rows.push_back({ports[static_cast<qsizetype>(i)], TargetText(u.run), SerialText(u.check),
                    PartText(u.check), UnitResultText(u), QString::number(blocks),
                    QString::number(u.run.seconds, 'f', 1) + QStringLiteral(" s"),
                    CameBackCell(u.check)});
  }
  std::vector<qsizetype> width;
  for (const QString& h : heads) width.push_back(h.size());
  for (const QStringList& r : rows)
    for (qsizetype c = 0; c < r.size(); ++c)
      width[static_cast<size_t>(c)] = std::max(width[static_cast<size_t>(c)], r[c].size());
  auto line = [&](const QStringList& cells) {
    QString text;
    for (qsizetype c = 0; c < cells.size(); ++c) {
      const qsizetype w = width[static_cast<size_t>(c)];
      // Numbers to the right, texts to the left; nothing trails the last column.
      const bool number = c == 5 || c == 6;
      text += number                 ? cells[c].rightJustified(w)
              : c + 1 < cells.size() ? cells[c].leftJustified(w)
                                     : cells[c];
      if (c + 1 < cells.size()) text += QStringLiteral("  ");
    }
    return text + '\n';
  };
  QString table = line(heads);
  for (const QStringList& r : rows) table += line(r);
  return table;
}

namespace {

// One unit in a report: "port", "result" ("reason" when it did not come back), "images",
// "seconds" and what was learned of the unit.
QJsonObject UnitJson(const QString& port, const TUnitRecord& u) {
  QJsonArray images;
  for (const TImageReport& r : u.run.images)
    if (r.chosen) images.append(ImageOutcomeJson(r));
  QJsonObject p;
  p["port"] = port;
  p["target"] = u.run.target.isEmpty() ? QJsonValue() : QJsonValue(u.run.target);
  p["result"] = u.result;
  if (!u.reason.isEmpty()) p["reason"] = u.reason;
  p["images"] = images;
  p["seconds"] = u.run.seconds;
  AddUnitFields(p, u.check);
  return p;
}

}  // namespace

QJsonObject BatchReportJson(const QString& file, const QString& sha256, const QStringList& ports,
                            const std::vector<TUnitRecord>& units) {
  QJsonArray portsJson;
  for (size_t i = 0; i < units.size(); ++i)
    portsJson.append(UnitJson(ports[static_cast<qsizetype>(i)], units[i]));
  QJsonObject o;
  o["file"] = file;
  o["sha256"] = sha256;
  o["ports"] = portsJson;
  return o;
}

QJsonObject WatchReportJson(const QString& file, const QString& sha256, const QStringList& ports,
                            const std::vector<TUnitRecord>& units) {
  QJsonArray unitsJson;
  for (const TUnitRecord& u : units) {
    QJsonObject o = UnitJson(ports[u.port], u);
    o["time"] = u.started.toUTC().toString(Qt::ISODateWithMs);
    unitsJson.append(o);
  }
  QJsonObject o;
  o["file"] = file;
  o["sha256"] = sha256;
  o["units"] = unitsJson;
  return o;
}

}  // namespace velkup
