// velkup-batch as a real process against bvsim instances, each behind a symbolic link of its
// own (the port name velkup-batch is given), so that a test can put a new unit behind a name, or
// take it away.
#pragma once

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

#include "SimSupport.h"

namespace velkup::test {

struct Finished {
  int exitCode = -1;
  QString out;
  QString err;
};

struct BatchRig : ::testing::Test {
  // A process a failed assertion left running (a --watch run never ends by itself) is killed.
  ~BatchRig() override {
    for (QProcess* p : launched_) {
      p->kill();
      p->waitForFinished(10000);
      delete p;
    }
  }

  QTemporaryDir dir;
  std::vector<std::unique_ptr<bvsim::Simulator>> sims;
  QString image = dir.filePath("firmware.vkf");
  QString report = dir.filePath("report.json");
  QString dataHome = dir.filePath("data");

  void Sims(size_t n, unsigned baud = 0) {
    for (size_t i = 0; i < n; ++i) {
      bvsim::Config c = VelkupValidator();
      c.baud = baud;
      AddSim(c);
    }
  }
  // One more simulator, linked at the next port's name.
  bvsim::Simulator& AddSim(const bvsim::Config& config) {
    sims.push_back(std::make_unique<bvsim::Simulator>(config));
    EXPECT_TRUE(sims.back()->Start()) << sims.back()->LastError();
    Link(sims.size() - 1);
    return *sims.back();
  }
  QString Port(size_t i) const { return dir.filePath(QStringLiteral("port%1").arg(i)); }
  // Puts simulator `sim` (by default the one of the same number) behind port i's name.
  void Link(size_t i, size_t sim = SIZE_MAX) {
    const std::string link = Port(i).toStdString();
    std::filesystem::remove(link);
    std::filesystem::create_symlink(sims[sim == SIZE_MAX ? i : sim]->SlavePath(), link);
  }
  // Takes the unit behind port i away: its line hangs up and its name is gone.
  void Unplug(size_t i, size_t sim = SIZE_MAX) {
    sims[sim == SIZE_MAX ? i : sim]->Stop();
    std::filesystem::remove(Port(i).toStdString());
  }
  QStringList PortArgs() const {
    QStringList a;
    for (size_t i = 0; i < sims.size(); ++i) a << "--port" << Port(i);
    return a;
  }
  QProcess* Launch(const QStringList& args) {
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", dataHome);
    p->setProcessEnvironment(env);
    p->start(QStringLiteral(VELKUP_BATCH), args);
    EXPECT_TRUE(p->waitForStarted(10000));
    launched_.push_back(p);
    return p;
  }
  Finished Wait(QProcess* p) {
    EXPECT_TRUE(p->waitForFinished(180000));
    Finished f{p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1,
               seen + QString::fromLocal8Bit(p->readAllStandardOutput()),
               QString::fromLocal8Bit(p->readAllStandardError())};
    seen.clear();
    searchFrom_ = 0;
    launched_.erase(std::remove(launched_.begin(), launched_.end(), p), launched_.end());
    delete p;
    return f;
  }
  Finished Batch(const QStringList& args) { return Wait(Launch(args)); }

  // Standard output of a running process so far; WaitForOutput adds to it.
  QString seen;
  // Waits until the process has written `text` on standard output after what an earlier wait
  // found (so the same line is not found twice).
  bool WaitForOutput(QProcess* p, const QString& text, int timeoutMs = 120000) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
      seen += QString::fromLocal8Bit(p->readAllStandardOutput());
      if (const qsizetype at = seen.indexOf(text, searchFrom_); at >= 0) {
        searchFrom_ = at + text.size();
        return true;
      }
      if (deadline.hasExpired() || p->state() == QProcess::NotRunning) return false;
      p->waitForReadyRead(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000)));
    }
  }

  QJsonObject ReadReport() {
    QFile f(report);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    QJsonParseError e;
    const QJsonDocument d = QJsonDocument::fromJson(f.readAll(), &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError);
    return d.object();
  }
  QList<QJsonObject> History() const { return ReadHistory(dataHome); }
  QString Sha256Of(const QString& file) {
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return QString::fromLatin1(
        QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
  }

 private:
  qsizetype searchFrom_ = 0;
  std::vector<QProcess*> launched_;
};

// The frames of one update as the window sends them: from the first Poll to DownloadFinish.
inline std::vector<bvsim::Frame> UpdateFrames(const std::vector<bvsim::Frame>& frames) {
  auto first = std::find_if(frames.begin(), frames.end(),
                            [](const bvsim::Frame& f) { return f.Command() == 0x33; });
  auto finish = std::find_if(first, frames.end(), [](const bvsim::Frame& f) {
    return f.Command() == 0x50 && f.SubCommand() == 0x03;
  });
  return {first, finish == frames.end() ? finish : finish + 1};
}

}  // namespace velkup::test
