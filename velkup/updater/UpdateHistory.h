// The record of updates: after every run, Velkup's window and velkup-batch append one JSON line
// per port to $XDG_DATA_HOME/Velkup/history.jsonl (~/.local/share/Velkup/history.jsonl), so that
// what was written into a unit, when, and whether it succeeded can be looked up later.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <vector>

#include "UnitCheck.h"
#include "UpdateSequence.h"

namespace velkup {

// The short names of the images, as velkup-batch takes them: "encryption", "bvcontrol",
// "validation".
const char* ImageKey(TImage image);
// The images' names for people: "Encryption", "BV Control", "Validation".
QString ImageTitle(TImage image);
// Why an image failed, in words: "refused with code 30", "no answer", "port lost", ...
QString FailureText(const TImageReport& report);
// One image's outcome: "name", "blocks_written", "result" ("ok" or "failed") and, for a
// failure, "failed_block_address" and "reason".
QJsonObject ImageOutcomeJson(const TImageReport& report);
// What velkup-batch learned of a unit: "serial_number", "part_number" (before the update),
// "part_number_after" (when seen again), "asset_number" (decimal digits: seven bytes are more
// than a JSON number keeps exactly) and "came_back_s"; null where unknown.
void AddUnitFields(QJsonObject& object, const TUnitCheck& unit);
// "qa", "qb", or empty when no family was selected.
QString FamilyKey(int bvTypeIndex);

// One run on one port.
struct THistoryEntry {
  QDateTime time;   // when the run started
  QString program;  // "velkup" or "velkup-batch"
  QString port;
  QString fileName;
  TRunReport run;
  // velkup-batch: what it learned of the unit (AddUnitFields).
  std::optional<TUnitCheck> unit = std::nullopt;
  // The unit's result when it is more than its images': "ok", "failed" or "already done", and
  // why it failed beyond its images ("did not come back").
  QString result = {};
  QString reason = {};
};

// The history as read back, oldest first (by time, then by line).
struct THistoryRead {
  bool opened = false;
  QString error;                     // why it could not be read, when not opened
  std::vector<QJsonObject> entries;  // the good lines, those of the serial number asked for
  std::vector<qint64> damagedLines;  // numbers (from 1) of lines that are not a history entry
};

// Reads the history at path; with a serial number only that unit's lines. A damaged line is
// skipped and its number noted. Lines longer than any entry can be count as damaged, and a path
// that is not a regular file is not read.
THistoryRead ReadUpdateHistory(const QString& path, const QString& serialNumber = {});
// The unit's result of a history line: its "result", or for lines without one (the window's,
// older ones) "ok" when every chosen image was written, else "failed".
QString HistoryResult(const QJsonObject& entry);

class TUpdateHistory {
 public:
  // An empty path means the default one, looked up at every append.
  explicit TUpdateHistory(QString path = {}) : path_(std::move(path)) {}
  static QString DefaultPath();
  QString Path() const;

  // Appends one line per entry, each with one write; false with a one-line reason in error.
  bool Append(const std::vector<THistoryEntry>& entries, QString* error = nullptr) const;
  // Appends and, on failure, writes one line on standard error. Never disturbs the caller.
  void Record(const std::vector<THistoryEntry>& entries) const;

  static QJsonObject EntryJson(const THistoryEntry& entry);

 private:
  QString path_;
};

}  // namespace velkup
