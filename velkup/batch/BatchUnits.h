// The units velkup-batch updated: what became of each, the line it gets on standard output in
// --watch, and the book a watch run keeps (serial numbers already done, counts per port) for its
// summary.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <mutex>
#include <set>
#include <vector>

#include "UnitCheck.h"
#include "UpdateHistory.h"
#include "UpdateSequence.h"

namespace velkup {

inline const QString kResultOk = QStringLiteral("ok");
inline const QString kResultFailed = QStringLiteral("failed");
inline const QString kResultAlreadyDone = QStringLiteral("already done");
inline const QString kDidNotComeBack = QStringLiteral("did not come back");

// One unit on one port.
struct TUnitRecord {
  int port = 0;  // index among the ports given
  QDateTime started;
  TRunReport run;
  TUnitCheck check;
  QString result;  // kResultOk, kResultFailed or kResultAlreadyDone
  QString reason;  // kDidNotComeBack, when that is why it failed beyond its images
  double seconds = 0;
};

// Sets result and reason from the run and the check: ok when every chosen image was written
// and the unit came back (or was not checked).
void SetUnitResult(TUnitRecord& record);

// The history line of a unit: file is the image file's absolute path.
THistoryEntry UnitHistoryEntry(const QString& port, const QString& file, const TUnitRecord& r);

// The serial number, or "not identified".
QString SerialText(const TUnitCheck& check);
// "came back after N.N s, status S", "did not come back", or empty when not checked.
QString ComeBackText(const TUnitCheck& check);
// The line of a unit done in --watch: time, port, serial number, result, seconds.
QString UnitLine(const QString& port, const TUnitRecord& record);

// A watch run's book. Thread-safe: every port's thread adds its units.
class TWatchLedger {
 public:
  explicit TWatchLedger(const QStringList& ports);
  // Whether a unit with this serial number was updated ok with this image (SHA-256) in this
  // run. An unidentified unit is never already done.
  bool AlreadyDone(const TUnitCheck& check, const QString& sha256) const;
  void Add(const TUnitRecord& record);
  // Units per port with ok, failed and already done, the totals and units per hour.
  QString Summary(double seconds) const;
  // Every unit ok or already done (none at all counts as that).
  bool AllOk() const;
  std::vector<TUnitRecord> Units() const;

 private:
  struct TCounts {
    int ok = 0, failed = 0, alreadyDone = 0;
  };
  const QStringList ports_;
  mutable std::mutex mu_;
  std::set<std::pair<QString, QString>> done_;  // serial number, SHA-256
  std::vector<TCounts> counts_;
  std::vector<TUnitRecord> units_;
};

}  // namespace velkup
