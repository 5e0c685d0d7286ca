// Validators on other machines, against the simulator paced at 19200 baud:
//   1. Encryption + BV Control (256 blocks) on a local pty and through ser2net (RFC 2217 on
//      127.0.0.1), in the same run: wall time over line time of the blocks (network <= 1.03),
//      and the time each block adds over the pty's (median, p99);
//   2. velkup-batch on four ser2net ports against one: wall time four over one (<= 1.03) and its
//      CPU per port (<= 2 % of a core).
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <vector>

#include "HexWriter.h"
#include "Ser2netRig.h"
#include "UpdateSequence.h"
#include "bvsim.h"

using namespace velkup;
using zelnet::test::Ser2net;

namespace {

constexpr unsigned kBaud = 19200;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

struct Paced {
  double blockWall = 0, blockLine = 0;
  std::vector<double> turnaround;  // a block's answer written -> the next block's first byte
};

bvsim::Config PacedValidator() {
  bvsim::Config c;
  c.firmwareSize = 0x80000;
  c.baud = kBaud;
  return c;
}

Paced Update(bvsim::Simulator& sim, const QString& port, const QString& file) {
  sim.ScriptPollAnswers({{0x19}});  // a quiet validator: no preparation
  TCommDrv drv(nullptr);
  drv.SetPollingDelay(500);
  TUpdateSequence::TView view;
  view.SetStatus = [](const QString&) {};
  view.SetStartEnabled = [](bool) {};
  view.BVTypeIndex = [] { return 1; };
  view.ImageChecked = [](TImage i) { return i != TImage::Validation; };
  view.ProcessEvents = [] { QCoreApplication::processEvents(); };
  view.ShowError = [](const QString& s) { std::fprintf(stderr, "%s\n", qPrintable(s)); };
  TUpdateSequence seq(drv, view);
  TUpdateOptions options;
  options.portName = port;
  options.baudRateIndex = 1;
  options.fileName = file;
  if (seq.Run(options) != TRunOutcome::Ready) std::fprintf(stderr, "the update failed\n");

  std::vector<std::chrono::steady_clock::time_point> blockFirst, answerAt;
  for (const auto& f : sim.ReceivedFrames())
    if (f.Command() == 0x50 && f.SubCommand() == 0x02) blockFirst.push_back(f.first);
  for (const auto& f : sim.SentFrames())
    if (f.bytes.size() == 6 && f.bytes[3] == 0xE0) answerAt.push_back(f.t);
  answerAt.resize(std::min(answerAt.size(), blockFirst.size()));
  Paced p;
  if (answerAt.empty()) return p;
  for (size_t i = 0; i + 1 < answerAt.size(); ++i)
    p.turnaround.push_back(Seconds(blockFirst[i + 1] - answerAt[i]));
  p.blockWall = Seconds(answerAt.back() - blockFirst.front());
  p.blockLine = static_cast<double>(answerAt.size()) * (268 + 6) * 10.0 / kBaud;
  return p;
}

double Quantile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size())))];
}

double ChildrenCpu() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// velkup-batch on `n` ports through ser2net: its wall time and CPU.
std::pair<double, double> Batch(int n, const QString& file) {
  std::vector<std::unique_ptr<bvsim::Simulator>> sims;
  Ser2net server;
  QStringList args;
  for (int i = 0; i < n; ++i) {
    sims.push_back(std::make_unique<bvsim::Simulator>(PacedValidator()));
    if (!sims.back()->Start()) std::exit(1);
    sims.back()->ScriptPollAnswers({{0x19}});
    server.Add(sims.back()->SlavePath(), Ser2net::Kind::Rfc2217);
  }
  QString error;
  if (!server.Start(error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    std::exit(1);
  }
  for (int i = 0; i < n; ++i) args << "--port" << server.TargetText(i);
  QTemporaryDir data;
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_DATA_HOME", data.path());
  p.setProcessEnvironment(env);
  const double cpu0 = ChildrenCpu();
  QElapsedTimer wall;
  wall.start();
  p.start(VELKUP_BATCH, args << "--images"
                             << "encryption,bvcontrol" << file);
  p.waitForFinished(-1);
  const double w = static_cast<double>(wall.nsecsElapsed()) * 1e-9;
  if (p.exitCode() != 0) std::fprintf(stderr, "velkup-batch: %s\n", p.readAll().constData());
  return {w, ChildrenCpu() - cpu0};
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (!Ser2net::Available()) {
    std::fprintf(stderr, "ser2net is not installed\n");
    return 1;
  }
  QTemporaryDir dir;
  const QString file = dir.filePath("image.vkf");
  std::ofstream(file.toStdString()) << zelnet::test::HexImage(0xB000, 0x1B000);

  bvsim::Simulator local(PacedValidator());
  if (!local.Start()) return 1;
  const Paced pty = Update(local, QString::fromStdString(local.SlavePath()), file);

  bvsim::Simulator remote(PacedValidator());
  if (!remote.Start()) return 1;
  Ser2net server;
  const int rfc = server.Add(remote.SlavePath(), Ser2net::Kind::Rfc2217);
  QString error;
  if (!server.Start(error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  const Paced net = Update(remote, server.TargetText(rfc), file);

  std::printf("Paced at %u baud, Encryption + BV Control (%zu blocks):\n", kBaud,
              net.turnaround.size() + 1);
  std::printf("  local pty:          wall %.2f s, line time %.2f s, ratio %.4f\n", pty.blockWall,
              pty.blockLine, pty.blockWall / pty.blockLine);
  const double ratio = net.blockWall / net.blockLine;
  std::printf(
      "  ser2net (RFC 2217): wall %.2f s, line time %.2f s, ratio %.4f (target <= 1.03: %s)\n",
      net.blockWall, net.blockLine, ratio, ratio <= 1.03 ? "OK" : "MISSED");
  std::printf(
      "  time between a block's answer and the next block: pty median %.3f ms p99 %.3f ms;"
      " network median %.3f ms p99 %.3f ms\n",
      Quantile(pty.turnaround, 0.5) * 1e3, Quantile(pty.turnaround, 0.99) * 1e3,
      Quantile(net.turnaround, 0.5) * 1e3, Quantile(net.turnaround, 0.99) * 1e3);
  std::printf("  added per block by the network: median %.3f ms, p99 %.3f ms\n",
              (Quantile(net.turnaround, 0.5) - Quantile(pty.turnaround, 0.5)) * 1e3,
              (Quantile(net.turnaround, 0.99) - Quantile(pty.turnaround, 0.99)) * 1e3);

  const auto one = Batch(1, file);
  const auto four = Batch(4, file);
  const double batchRatio = four.first / one.first;
  std::printf(
      "velkup-batch through ser2net, paced at %u baud: one port %.2f s, four ports %.2f s, "
      "ratio %.4f (target <= 1.03: %s)\n",
      kBaud, one.first, four.first, batchRatio, batchRatio <= 1.03 ? "OK" : "MISSED");
  const double perPort = four.second / four.first / 4 * 100;
  std::printf(
      "  velkup-batch CPU: one port %.2f %% of a core; four ports %.2f %% per port "
      "(target <= 2 %%: %s)\n",
      one.second / one.first * 100, perPort, perPort <= 2 ? "OK" : "MISSED");
  return 0;
}
