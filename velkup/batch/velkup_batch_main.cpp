// velkup-batch: Velkup's update on several ports at once. The image file is loaded and checked
// once; then every port identifies its unit, runs the whole update sequence and checks that the
// unit comes back, on its own thread, with its progress on standard output, a table at the end,
// an exit status a script can trust, a JSON report on request and a line per unit in the update
// history. With --watch every port takes unit after unit as they are plugged in, until Ctrl-C;
// with --history it prints that history.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <vector>

#include "BatchDisplay.h"
#include "BatchHistory.h"
#include "BatchOptions.h"
#include "BatchRun.h"
#include "StopSignals.h"
#include "UpdateHistory.h"

namespace {

void Error(const QString& line) {
  std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velkup;
  QCoreApplication app(argc, argv);
  TBatchOptions options;
  QString message;
  switch (ParseBatchOptions(app.arguments().mid(1), options, message)) {
    case TBatchCommand::Help:
      std::fputs(BatchUsage().toLocal8Bit().constData(), stdout);
      return 0;
    case TBatchCommand::Version:
      std::printf("%s\n", BatchVersion().toLocal8Bit().constData());
      return 0;
    case TBatchCommand::Error:
      Error(message);
      return 2;
    case TBatchCommand::Run:
      break;
  }
  if (options.history) return PrintHistory({}, options.serialNumber, options.csv);

  // The image is loaded and checked once, before any port is opened.
  TImageMemory image;
  QString sha256;
  const TLoadResult load = LoadUpdateImage(options.imageFile, image, sha256);
  if (!load.Ok()) {
    Error(QStringLiteral("velkup-batch: ") +
          QString::fromStdString(
              DescribeLoadFailure(QFile::encodeName(options.imageFile).toStdString(), load)));
    return 2;
  }
  // So is the report's file: a run whose report cannot be written is not started.
  std::unique_ptr<QFile> report;
  if (!options.reportFile.isEmpty()) {
    report = std::make_unique<QFile>(options.reportFile);
    if (!report->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      Error(QStringLiteral("velkup-batch: cannot write the report %1: %2")
                .arg(options.reportFile, report->errorString()));
      return 2;
    }
  }

  const bool terminal = StdoutIsTerminal();
  TBatchDisplay display(stdout, terminal, options.ports);
  std::vector<std::unique_ptr<TPortRun>> runs;
  std::unique_ptr<TWatchLedger> ledger;
  if (options.watch) ledger = std::make_unique<TWatchLedger>(options.ports);
  for (qsizetype i = 0; i < options.ports.size(); ++i)
    runs.push_back(std::make_unique<TPortRun>(static_cast<int>(i), options.ports[i], options, image,
                                              sha256, display, ledger.get()));

  // SIGINT and SIGTERM stop every port after its block in flight.
  bool stopped = false;
  TStopSignals stopSignals([&] {
    stopped = true;
    for (auto& run : runs) run->Stop();
  });
  if (!stopSignals.Ok()) {
    Error(QStringLiteral("velkup-batch: cannot set up signal handling"));
    return 2;
  }
  size_t finished = 0;
  for (auto& run : runs)
    QObject::connect(run->Thread(), &QThread::finished, &app, [&] {
      if (++finished == runs.size()) app.quit();
    });
  QTimer redraw;
  if (terminal) {
    QObject::connect(&redraw, &QTimer::timeout, &app, [&] { display.Redraw(); });
    redraw.start(250);
    display.Redraw();
  }
  QElapsedTimer elapsed;
  elapsed.start();
  for (auto& run : runs) run->Start();
  app.exec();
  for (auto& run : runs) run->Wait();
  redraw.stop();
  display.Close();

  const QString absoluteFile = QFileInfo(options.imageFile).absoluteFilePath();
  std::vector<TUnitRecord> units;
  int status = 0;
  if (ledger) {
    // Every unit has its history line already, written when it was done.
    std::printf(
        "\n%s",
        ledger->Summary(static_cast<double>(elapsed.elapsed()) / 1000).toLocal8Bit().constData());
    status = ledger->AllOk() ? 0 : 1;
  } else {
    std::vector<THistoryEntry> history;
    bool allOk = !stopped;
    for (size_t i = 0; i < runs.size(); ++i) {
      units.push_back(runs[i]->Record());
      allOk = allOk && units.back().result == kResultOk;
      history.push_back(
          UnitHistoryEntry(options.ports[static_cast<qsizetype>(i)], absoluteFile, units.back()));
    }
    std::printf("\n%s", SummaryTable(options.ports, units).toLocal8Bit().constData());
    if (stopped) std::printf("Stopped before the end.\n");
    TUpdateHistory().Record(history);
    status = allOk ? 0 : 1;
  }
  std::fflush(stdout);

  if (report) {
    const QJsonObject json =
        ledger ? WatchReportJson(options.imageFile, sha256, options.ports, ledger->Units())
               : BatchReportJson(options.imageFile, sha256, options.ports, units);
    const QByteArray text = QJsonDocument(json).toJson(QJsonDocument::Indented);
    if (report->write(text) != text.size() || !report->flush()) {
      Error(QStringLiteral("velkup-batch: cannot write the report %1: %2")
                .arg(options.reportFile, report->errorString()));
      status = 1;
    }
    report->close();
  }
  return status;
}
