// The record of updates: after every run, Velkup's window and velkup-batch append one JSON line
// per port to $XDG_DATA_HOME/Velkup/history.jsonl (~/.local/share/Velkup/history.jsonl), so that
// what was written into a unit, when, and whether it succeeded can be looked up later.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <vector>

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
// "qa", "qb", or empty when no family was selected.
QString FamilyKey(int bvTypeIndex);

// One run on one port.
struct THistoryEntry {
  QDateTime time;   // when the run started
  QString program;  // "velkup" or "velkup-batch"
  QString port;
  QString fileName;
  TRunReport run;
};

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
