// What velkup-batch shows while it runs and at its end. On a terminal, one line per port is
// updated in place (port, image, percentage, blocks, elapsed time); otherwise plain lines are
// written only when an image starts, at every 10 % and when it ends, so a log stays readable.
#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <mutex>
#include <vector>

#include "BatchUnits.h"
#include "UpdateSequence.h"

namespace velkup {

class TBatchDisplay {
 public:
  TBatchDisplay(std::FILE* out, bool terminal, const QStringList& ports);

  // From the ports' threads.
  // A unit's update begins: the line starts afresh.
  void PortStarted(int port);
  void Phase(int port, TPhase phase);
  // What the port does besides the sequence: "identifying", "checking that it comes back".
  void Activity(int port, const QString& text);
  // The unit's serial number, or "not identified".
  void Identified(int port, const QString& serial);
  void Progress(int port, const TImageReport& image);
  void PortDone(int port);
  // --watch: the port waits for a unit, or (keeping the unit's serial number on its line) for
  // the unit to be taken away.
  void Waiting(int port, const QString& text, bool keepSerial = false);
  // --watch: a unit is done; its line is printed above the ports' lines.
  void UnitDone(int port, const QString& line);

  // Terminal only: writes the lines again (from the main thread, on a timer).
  void Redraw();
  // The last state of every line; nothing is drawn after it.
  void Close();

 private:
  struct TLine {
    QString port;
    QString phase;  // before the images: "waiting", "starting", then the sequence's phase
    QString serial;
    bool hasImage = false;
    TImage image = TImage::Encryption;
    uint32_t written = 0;
    uint32_t blocks = 0;
    uint32_t tenths = 0;  // the last 10 % step written as a plain line
    QStringList failures;
    QElapsedTimer since;
    QElapsedTimer imageSince;
    qint64 endedMs = -1;
  };
  QString LineText(const TLine& line) const;
  void Print(const QString& text);
  void DrawLocked();

  std::FILE* out_;
  const bool terminal_;
  std::mutex mu_;
  std::vector<TLine> lines_;
  bool drawn_ = false;
  bool closed_ = false;
};

// Whether the port wrote every image chosen for it.
bool PortWritten(const TRunReport& run);
// "ok", or each failed image with its block and why.
QString PortResultText(const TRunReport& run);
// The table printed at the end: port, serial number, part number (and the one after the update
// when it differs), result, blocks written, duration and when the unit came back.
QString SummaryTable(const QStringList& ports, const std::vector<TUnitRecord>& units);
// The report of --report: "file", "sha256" and one object per port in "ports".
QJsonObject BatchReportJson(const QString& file, const QString& sha256, const QStringList& ports,
                            const std::vector<TUnitRecord>& units);
// The report of --report with --watch: "file", "sha256" and one object per unit in "units", in
// the order they were done, each with its "time" as well.
QJsonObject WatchReportJson(const QString& file, const QString& sha256, const QStringList& ports,
                            const std::vector<TUnitRecord>& units);

}  // namespace velkup
