// A 32 KB firmware download (128 blocks of 256 bytes) against bvsim paced at 19200 baud, first
// through LoadAndProgram alone, then through the main window's Download button (the Download
// command, the 400 ms pause, DownloadStart, the file and LoadAndProgram).
//
// The floor is the line time of every byte exchanged (taken from the frames the simulator
// recorded: it writes each answer so that it is complete at first request byte + (n + m) x 10 /
// baud) plus the waits the download makes on purpose (100 ms before the block-size query, every
// block and the finish; 400 ms after the Download command). Goal: wall time <= 1.03 x floor.
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ConsoleDialogs.h"
#include "FirmwareDownload.h"
#include "HexWriter.h"
#include "Mainunit.h"
#include "bvsim.h"
#include "ui_Mainunit.h"

namespace {

constexpr unsigned kBaud = 19200;
constexpr std::size_t kImageBytes = 32 * 1024;

double ThreadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Random bytes in 16-byte data records, no blank block.
std::string HexOfRandomImage(std::size_t size) {
  std::mt19937 random(32);
  std::string hex;
  std::vector<std::uint8_t> data(16);
  for (std::size_t address = 0; address < size; address += 16) {
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    hex += zelnet::test::Record(0x00, static_cast<std::uint16_t>(address), data);
  }
  return hex + zelnet::test::kEndOfFile;
}

// Answers the file dialog with one path and every box at once.
class BenchDialogs final : public velkor::ConsoleDialogs {
 public:
  explicit BenchDialogs(QString file) : file_(std::move(file)) {}
  void ErrorBox(QWidget*, const QString& text) override {
    std::printf("  (box: %s)\n", qPrintable(text));
  }
  void Message(QWidget*, const QString& text) override {
    std::printf("  (message: %s)\n", qPrintable(text));
  }
  bool ConfirmClose(QWidget*, const QString&) override { return true; }
  void ShowModal(QDialog&) override {}
  void ShowWindow(QWidget&) override {}
  QString OpenFile(QWidget*, const QString&) override { return file_; }

 private:
  QString file_;
};

struct Traffic {
  std::size_t requests = 0;
  std::size_t blockAttempts = 0;
  std::size_t bytes = 0;
  std::size_t downloadCommands = 0;  // the Download command alone, sent through the transaction
};

Traffic Count(const bvsim::Simulator& sim) {
  Traffic t;
  for (const bvsim::Frame& f : sim.ReceivedFrames()) {
    ++t.requests;
    t.bytes += f.bytes.size();
    if (f.SubCommand() == velkor::DownloadWriteBlock) ++t.blockAttempts;
    if (f.Command() == 0x50 && f.SubCommand() < 0) ++t.downloadCommands;
  }
  for (const bvsim::Frame& f : sim.SentFrames()) t.bytes += f.bytes.size();
  return t;
}

// Prints the figures of one run and returns whether it met the goal.
bool Report(const char* what, double wallMs, double cpuMs, const Traffic& t, bool ok,
            unsigned baud = kBaud) {
  const double lineMs = baud ? static_cast<double>(t.bytes) * 10.0 * 1000.0 / baud : 0.0;
  // 100 ms before the query, every block attempt and the finish; 400 ms after the command.
  const double waitsMs = 100.0 * static_cast<double>(t.blockAttempts + 2) +
                         400.0 * static_cast<double>(t.downloadCommands);
  const double floorMs = lineMs + waitsMs;
  const double ratio = wallMs / floorMs;
  std::printf("%s\n", what);
  std::printf("  result            %s\n", ok ? "Proramming - OK!" : "FAILED");
  std::printf("  frames            %zu requests, %zu block frames, %zu bytes on the line\n",
              t.requests, t.blockAttempts, t.bytes);
  std::printf("  line time         %9.1f ms  (bytes x 10 / %u)\n", lineMs, baud);
  std::printf("  specified waits   %9.1f ms\n", waitsMs);
  std::printf("  floor             %9.1f ms\n", floorMs);
  std::printf("  wall time         %9.1f ms  = %.4f x floor (goal <= 1.03)  %s\n", wallMs, ratio,
              ratio <= 1.03 && ok ? "MET" : "MISSED");
  std::printf("  overhead          %9.2f ms in all, %.3f ms per block\n", wallMs - floorMs,
              (wallMs - floorMs) / static_cast<double>(std::max<std::size_t>(t.blockAttempts, 1)));
  std::printf("  window thread CPU %9.1f ms  (%.2f %% of the wall time)\n", cpuMs,
              100.0 * cpuMs / wallMs);
  return ok && ratio <= 1.03;
}

bvsim::Config Paced(unsigned baud) {
  bvsim::Config config;
  config.baud = baud;
  return config;
}

bool RunLoadAndProgram(const std::string& hex, unsigned baud) {
  bvsim::Simulator sim(Paced(baud));
  if (!sim.Start()) {
    std::fprintf(stderr, "bvsim: %s\n", sim.LastError().c_str());
    return false;
  }
  qputenv("ZELNET_COM1", QByteArray::fromStdString(sim.SlavePath()));
  velkor::ZelnetLink link{velkor::LinkHost{}};
  if (!link.OpenPort('1', kBaud)) {
    std::fprintf(stderr, "cannot open %s\n", sim.SlavePath().c_str());
    return false;
  }
  velkor::TNoProgress progress;
  velkor::TFirmwareDownload download(link, progress, [](std::string_view) {});
  auto image = std::make_unique<velkor::FirmwareImageBytes>();
  velkor::HexLoadState state;

  QElapsedTimer clock;
  const double cpu0 = ThreadCpuMs();
  clock.start();
  const velkor::DownloadResult result = download.LoadAndProgram(hex, *image, state);
  const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  const double cpu = ThreadCpuMs() - cpu0;
  link.ClosePort();
  const bool stored =
      std::equal(image->begin(), image->begin() + kImageBytes, sim.Firmware().begin());
  return Report(baud ? "LoadAndProgram alone (DownloadStart, block size, 128 blocks, finish)"
                     : "LoadAndProgram alone, simulator not paced (software overhead)",
                wall, cpu, Count(sim), result == velkor::dlOk && stored, baud);
}

bool RunWindow(const QString& file) {
  bvsim::Simulator sim(Paced(kBaud));
  if (!sim.Start()) {
    std::fprintf(stderr, "bvsim: %s\n", sim.LastError().c_str());
    return false;
  }
  qputenv("ZELNET_COM1", QByteArray::fromStdString(sim.SlavePath()));
  for (int n = 2; n <= 4; ++n)
    qputenv(("ZELNET_COM" + std::to_string(n)).c_str(), "/nonexistent/zelnet-com");
  BenchDialogs dialogs(file);
  velkor::TMainForm form(velkor::TMainForm::Setup{&dialogs, {}});
  form.show();
  auto* log = form.findChild<QPlainTextEdit*>(QStringLiteral("MemoMessage"));
  if (!log || !log->toPlainText().contains(QStringLiteral("Device has found on COM1!"))) {
    std::fprintf(stderr, "the window did not find the simulator\n");
    return false;
  }
  sim.ClearReceived();
  sim.ClearSent();
  QElapsedTimer clock;
  const double cpu0 = ThreadCpuMs();
  clock.start();
  form.BtnDownloadClick();
  const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  const double cpu = ThreadCpuMs() - cpu0;
  const bool ok = log->toPlainText().endsWith(QStringLiteral("\nProramming - OK!"));
  return Report("Download button (command, 400 ms pause, DownloadStart, file, LoadAndProgram)",
                wall, cpu, Count(sim), ok);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const std::string hex = HexOfRandomImage(kImageBytes);
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("firmware.hex"));
  QFile out(file);
  if (!dir.isValid() || !out.open(QIODevice::WriteOnly)) return 1;
  out.write(hex.data(), static_cast<qint64>(hex.size()));
  out.close();

  std::printf("32 KB download (%zu-byte HEX file), bvsim paced at %u baud\n\n", hex.size(), kBaud);
  const bool plain = RunLoadAndProgram(hex, kBaud);
  std::printf("\n");
  const bool window = RunWindow(file);
  std::printf("\n");
  const bool unpaced = RunLoadAndProgram(hex, 0);
  return plain && window && unpaced ? 0 : 1;
}
