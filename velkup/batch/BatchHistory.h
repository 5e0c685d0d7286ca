// velkup-batch --history: the update history as a table for people or as CSV for a
// spreadsheet, newest last, optionally for one serial number.
#pragma once

#include <QJsonObject>
#include <QString>
#include <vector>

namespace velkup {

// Columns: time, port, serial number, part number, result, came back, seconds, SHA-256 (its
// first 12 digits) and file.
QString HistoryTable(const std::vector<QJsonObject>& entries);
// One header line, then one line per entry with every field of it; texts that a unit sent
// cannot start a spreadsheet formula.
QString HistoryCsv(const std::vector<QJsonObject>& entries);

// Prints the history at path (the default one when empty) on standard output, each damaged
// line as a warning on standard error; returns the exit status (2 when it cannot be read).
int PrintHistory(const QString& path, const QString& serialNumber, bool csv);

}  // namespace velkup
