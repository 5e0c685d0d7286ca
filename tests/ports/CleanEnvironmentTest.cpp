// The programs as a desktop menu starts them: no ZELNET_COM<n> at all, only a home with a user's
// port map. Velkor finds bvsim through the map and its session log says which device each COM
// name meant; a second Velkor finds the port held by the first and says so, once on standard
// error; velkup-batch updates bvsim given as COM1 and its report and history name the device.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <fstream>
#include <memory>

#include "HexWriter.h"
#include "bvsim.h"

namespace {

// A home of its own with a user's port map, and what a program started from the menu has.
struct Home {
  QTemporaryDir dir;
  QTemporaryDir emptyMachine;  // the port library sees no adapters and no system map here

  void WriteMap(const QByteArray& contents) {
    ASSERT_TRUE(QDir().mkpath(dir.filePath(".config/zelnet")));
    QFile map(dir.filePath(".config/zelnet/ports.conf"));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly));
    map.write(contents);
  }
  std::unique_ptr<QProcess> Start(const QString& program, const QStringList& args = {}) {
    QProcessEnvironment env;  // nothing inherited: no ZELNET_COM<n>, no XDG_* of the tests
    env.insert("HOME", dir.path());
    env.insert("PATH", "/usr/bin:/bin");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ZELNET_PORTS_ROOT", emptyMachine.path());
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->start(program, args);
    EXPECT_TRUE(process->waitForStarted(30000)) << program.toStdString();
    return process;
  }
  // The whole session log of the Velkor run in this home, once it holds `line`; empty after a
  // generous deadline.
  QString SessionLogWith(const QString& line) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 60000) {
      QDirIterator logs(dir.filePath(".local/state/Velkor/logs"), {"velkor-*.log"}, QDir::Files);
      while (logs.hasNext()) {
        QFile log(logs.next());
        if (!log.open(QIODevice::ReadOnly)) continue;
        const QString text = QString::fromUtf8(log.readAll());
        if (text.contains(line)) return text;
      }
      QThread::msleep(50);
    }
    return {};
  }
};

void Stop(QProcess& process) {
  process.kill();
  process.waitForFinished(30000);
}

// The text of each line without its time stamp.
QStringList Lines(const QString& log) {
  QStringList lines;
  for (const QString& line : log.split('\n', Qt::SkipEmptyParts)) lines << line.mid(24);
  return lines;
}

TEST(CleanEnvironment, VelkorFindsBvsimThroughTheUserMapAndLogsWhatEachComNameMeant) {
  bvsim::Simulator sim;
  ASSERT_TRUE(sim.Start()) << sim.LastError();
  const QString pty = QString::fromStdString(sim.SlavePath());
  Home first, second;
  first.WriteMap("# the bench\nCOM1 = " + pty.toUtf8() + "\n");
  second.WriteMap("COM1 = " + pty.toUtf8() + "\n");

  auto velkor = first.Start(VELKOR);
  const QString log = first.SessionLogWith("Device has found on COM1!");
  ASSERT_FALSE(log.isEmpty()) << velkor->readAllStandardError().toStdString();
  // The log begins with the port the search tried, its target and where that came from.
  EXPECT_EQ(Lines(log).value(0), "COM1: " + pty + " (user map)") << log.toStdString();

  // A second Velkor meets the port held by the first: recorded with the holder, and told once
  // on standard error. COM2 to COM4 name nothing on this machine.
  auto other = second.Start(VELKOR);
  const QString busy =
      QStringLiteral("COM1: %1: in use by velkor (pid %2)").arg(pty).arg(velkor->processId());
  const QString otherLog = second.SessionLogWith("COM4: no port (automatic)");
  ASSERT_FALSE(otherLog.isEmpty());
  EXPECT_EQ(Lines(otherLog).value(0), "COM1: " + pty + " (user map)") << otherLog.toStdString();
  EXPECT_TRUE(Lines(otherLog).value(1).startsWith(busy + "; fix: ")) << otherLog.toStdString();
  EXPECT_TRUE(Lines(otherLog).contains("COM2: no port (automatic)")) << otherLog.toStdString();
  EXPECT_FALSE(otherLog.contains("Device has found"));
  Stop(*other);
  const QString err = QString::fromLocal8Bit(other->readAllStandardError());
  EXPECT_EQ(err.count("velkor: " + busy), 1) << err.toStdString();
  Stop(*velkor);
}

TEST(CleanEnvironment, VelkupBatchUpdatesComOneOfTheUserMapAndNamesTheDevice) {
  bvsim::Config config;
  config.firmwareSize = 0x80000;
  bvsim::Simulator sim(config);
  ASSERT_TRUE(sim.Start()) << sim.LastError();
  const QString pty = QString::fromStdString(sim.SlavePath());
  Home home;
  home.WriteMap("COM1 = " + pty.toUtf8() + "\n");
  const QString image = home.dir.filePath("firmware.vkf");
  std::ofstream(image.toStdString()) << zelnet::test::HexImage(0xB000, 0x1B000) << "\x1A";
  const QString report = home.dir.filePath("report.json");

  auto batch = home.Start(VELKUP_BATCH,
                          {"--port", "com1", "--images", "encryption", "--report", report, image});
  ASSERT_TRUE(batch->waitForFinished(180000));
  const QString out = QString::fromLocal8Bit(batch->readAllStandardOutput());
  ASSERT_EQ(batch->exitCode(), 0) << out.toStdString()
                                  << batch->readAllStandardError().toStdString();
  // The table names the device behind the port.
  EXPECT_TRUE(out.contains(QRegularExpression("\nPORT +TARGET .*\ncom1 +" +
                                              QRegularExpression::escape(pty) + " .* ok +32 ")))
      << out.toStdString();

  QFile reportFile(report);
  ASSERT_TRUE(reportFile.open(QIODevice::ReadOnly));
  const QJsonObject port =
      QJsonDocument::fromJson(reportFile.readAll()).object()["ports"].toArray().at(0).toObject();
  EXPECT_EQ(port["port"].toString(), "com1");
  EXPECT_EQ(port["target"].toString(), pty);
  EXPECT_EQ(port["result"].toString(), "ok");

  QFile history(home.dir.filePath(".local/share/Velkup/history.jsonl"));
  ASSERT_TRUE(history.open(QIODevice::ReadOnly));
  const QJsonObject entry = QJsonDocument::fromJson(history.readLine()).object();
  EXPECT_EQ(entry["port"].toString(), "com1");
  EXPECT_EQ(entry["target"].toString(), pty);
}

}  // namespace
