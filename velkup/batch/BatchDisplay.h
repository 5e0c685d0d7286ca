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

#include "UpdateSequence.h"

namespace velkup {

class TBatchDisplay {
 public:
  TBatchDisplay(std::FILE* out, bool terminal, const QStringList& ports);

  // From the ports' threads.
  void PortStarted(int port);
  void Phase(int port, TPhase phase);
  void Progress(int port, const TImageReport& image);
  void PortDone(int port);

  // Terminal only: writes the lines again (from the main thread, on a timer).
  void Redraw();
  // The last state of every line; nothing is drawn after it.
  void Close();

 private:
  struct TLine {
    QString port;
    QString phase;  // before the images: "waiting", "starting", then the sequence's phase
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
// The table printed at the end: port, result, blocks written, duration.
QString SummaryTable(const QStringList& ports, const std::vector<TRunReport>& runs);
// The report of --report: "file", "sha256" and one object per port in "ports".
QJsonObject BatchReportJson(const QString& file, const QString& sha256, const QStringList& ports,
                            const std::vector<TRunReport>& runs);

}  // namespace velkup
