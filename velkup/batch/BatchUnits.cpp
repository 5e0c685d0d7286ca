#include "BatchUnits.h"

#include <algorithm>

#include "BatchDisplay.h"

namespace velkup {

void SetUnitResult(TUnitRecord& r) {
  r.reason = r.check.CameBack() ? QString() : kDidNotComeBack;
  r.result = PortWritten(r.run) && r.check.CameBack() ? kResultOk : kResultFailed;
}

THistoryEntry UnitHistoryEntry(const QString& port, const QString& file, const TUnitRecord& r) {
  return {r.started, QStringLiteral("velkup-batch"), port, file, r.run, r.check, r.result,
          r.reason};
}

QString SerialText(const TUnitCheck& check) {
  return check.before ? check.before->serialNumber : QStringLiteral("not identified");
}

QString ComeBackText(const TUnitCheck& check) {
  if (!check.verified) return {};
  if (!check.after.back) return kDidNotComeBack;
  return QStringLiteral("came back after %1 s, status %2")
      .arg(check.after.seconds, 0, 'f', 1)
      .arg(QString::number(check.after.status, 16).toUpper().rightJustified(2, QLatin1Char('0')));
}

QString UnitLine(const QString& port, const TUnitRecord& r) {
  QString result = r.result;
  if (r.result == kResultFailed) {
    QStringList why;
    if (!PortWritten(r.run)) why << PortResultText(r.run);
    if (!r.reason.isEmpty()) why << r.reason;
    result += QStringLiteral(" (") + why.join(QStringLiteral("; ")) + ')';
  }
  return QStringLiteral("%1  %2  %3  %4  %5 s")
      .arg(r.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), port, SerialText(r.check),
           result)
      .arg(r.seconds, 0, 'f', 1);
}

TWatchLedger::TWatchLedger(const QStringList& ports)
    : ports_(ports), counts_(static_cast<size_t>(ports.size())) {}

bool TWatchLedger::AlreadyDone(const TUnitCheck& check, const QString& sha256) const {
  if (!check.before || check.before->serialNumber.isEmpty()) return false;
  std::lock_guard lock(mu_);
  return done_.count({check.before->serialNumber, sha256}) > 0;
}

void TWatchLedger::Add(const TUnitRecord& r) {
  std::lock_guard lock(mu_);
  TCounts& c = counts_[static_cast<size_t>(r.port)];
  if (r.result == kResultOk) {
    ++c.ok;
    if (r.check.before && !r.check.before->serialNumber.isEmpty())
      done_.insert({r.check.before->serialNumber, r.run.sha256});
  } else if (r.result == kResultAlreadyDone) {
    ++c.alreadyDone;
  } else {
    ++c.failed;
  }
  units_.push_back(r);
}

QString TWatchLedger::Summary(double seconds) const {
  std::lock_guard lock(mu_);
  int width = 4;
  for (const QString& p : ports_) width = std::max(width, static_cast<int>(p.size()));
  QString text = QStringLiteral("%1  UNITS  OK  FAILED  ALREADY DONE\n")
                     .arg(QStringLiteral("PORT").leftJustified(width));
  TCounts total;
  for (size_t i = 0; i < counts_.size(); ++i) {
    const TCounts& c = counts_[i];
    text += QStringLiteral("%1  %2  %3  %4  %5\n")
                .arg(ports_[static_cast<qsizetype>(i)].leftJustified(width))
                .arg(c.ok + c.failed + c.alreadyDone, 5)
                .arg(c.ok, 2)
                .arg(c.failed, 6)
                .arg(c.alreadyDone, 12);
    total.ok += c.ok;
    total.failed += c.failed;
    total.alreadyDone += c.alreadyDone;
  }
  const int units = total.ok + total.failed + total.alreadyDone;
  const double hours = seconds / 3600;
  text += QStringLiteral("%1 units: %2 ok, %3 failed, %4 already done in %5 s; %6 units per hour\n")
              .arg(units)
              .arg(total.ok)
              .arg(total.failed)
              .arg(total.alreadyDone)
              .arg(seconds, 0, 'f', 0)
              .arg(hours > 0 ? units / hours : 0.0, 0, 'f', 1);
  return text;
}

bool TWatchLedger::AllOk() const {
  std::lock_guard lock(mu_);
  return std::all_of(counts_.begin(), counts_.end(), [](const TCounts& c) { return !c.failed; });
}

std::vector<TUnitRecord> TWatchLedger::Units() const {
  std::lock_guard lock(mu_);
  return units_;
}

}  // namespace velkup
