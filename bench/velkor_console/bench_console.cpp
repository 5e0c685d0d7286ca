// CPU used by Velkor's main window while it waits: the start-up bus reset against the simulated
// validator, a Bus Reset over two silent ports, and the poll loop against an idle simulated
// validator. Prints wall time and the CPU time of the window's thread (Velkor's own work; the
// simulator and the pty peers run on threads of their own) and of the whole process.
// Goals: bus reset waits <= 2 % of one core, idle poll loop <= 1 %. The session log goes where
// XDG_STATE_HOME says; XDG_STATE_HOME=/dev/null turns it off, for comparison. Last, the CPU
// that one session log line costs.
#include <time.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "ConsoleDialogs.h"
#include "Mainunit.h"
#include "PtyPeer.h"
#include "SessionLog.h"
#include "bvsim.h"

namespace {

double Cpu(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Sample {
  double wall, thread, process;
  static Sample Now(const QElapsedTimer& clock) {
    return {static_cast<double>(clock.nsecsElapsed()) / 1e6, Cpu(CLOCK_THREAD_CPUTIME_ID),
            Cpu(CLOCK_PROCESS_CPUTIME_ID)};
  }
};

void Print(const char* what, const Sample& a, const Sample& b) {
  const double wall = b.wall - a.wall;
  std::printf("%-44s wall %8.1f ms   window thread CPU %7.2f ms = %5.2f %%   process %5.2f %%\n",
              what, wall, b.thread - a.thread, 100.0 * (b.thread - a.thread) / wall,
              100.0 * (b.process - a.process) / wall);
}

// A control of the window by its object name.
template <class T = QPushButton>
T* Find(QWidget& window, const char* name) {
  T* control = window.findChild<T*>(QString::fromLatin1(name));
  if (!control) {
    std::fprintf(stderr, "no control %s\n", name);
    std::exit(1);
  }
  return control;
}

// Answers every box at once.
class QuietDialogs final : public velkor::ConsoleDialogs {
 public:
  void ErrorBox(QWidget*, const QString& text) override {
    std::printf("  (box: %s)\n", qPrintable(text));
  }
  void Message(QWidget*, const QString&) override {}
  bool ConfirmClose(QWidget*, const QString&) override { return true; }
  void ShowModal(QDialog&) override {}
  void ShowWindow(QWidget&) override {}
  QString OpenFile(QWidget*, const QString&) override { return {}; }
};

void SetPort(int n, const std::string& path) {
  qputenv(("ZELNET_COM" + std::to_string(n)).c_str(), QByteArray::fromStdString(path));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int idleSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

  bvsim::Simulator sim;
  if (!sim.Start()) {
    std::fprintf(stderr, "bvsim: %s\n", sim.LastError().c_str());
    return 1;
  }
  SetPort(1, sim.SlavePath());
  for (int n = 2; n <= 4; ++n) SetPort(n, "/nonexistent/zelnet-com" + std::to_string(n));

  QuietDialogs dialogs;
  QElapsedTimer clock;
  clock.start();

  // 1. Start-up: the bus reset finds the simulator on COM1 (RTS pulse, 2 s wait, two Polls).
  Sample a = Sample::Now(clock);
  auto form = std::make_unique<velkor::TMainForm>(velkor::TMainForm::Setup{&dialogs, {}});
  Sample b = Sample::Now(clock);
  Print("start-up bus reset (simulator on COM1)", a, b);
  form->show();

  // 2. Bus Reset with the simulator on COM1: the waits alone, without building the window.
  a = Sample::Now(clock);
  Find(*form, "BtnResetHard")->click();
  b = Sample::Now(clock);
  Print("Bus Reset (simulator on COM1)", a, b);

  // 3. Bus Reset over two silent ports, then the simulator on COM3.
  {
    zelnet::test::PtyPeer silent1;
    zelnet::test::PtyPeer silent2;
    SetPort(1, silent1.SlavePath());
    SetPort(2, silent2.SlavePath());
    SetPort(3, sim.SlavePath());
    a = Sample::Now(clock);
    Find(*form, "BtnResetHard")->click();
    b = Sample::Now(clock);
    Print("Bus Reset (2 silent ports, simulator on COM3)", a, b);
  }

  // 4. The poll loop against the idling simulator: measured from its first idle pass on; then
  // once more with "Show Messages" on, so that every Poll and ACK adds trace lines to the window
  // and to the session log.
  std::printf("session log in: %s\n", qPrintable(velkor::SessionLog::DefaultFolder()));
  for (const bool traces : {false, true}) {
    Find<QCheckBox>(*form, "CheckBox1")->setChecked(traces);
    Sample idleStart{};
    Sample idleEnd{};
    bool measuring = false;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (!measuring && sim.StatusCode() == 0x14) {
        measuring = true;
        idleStart = Sample::Now(clock);
        QTimer::singleShot(idleSeconds * 1000, [&] {
          idleEnd = Sample::Now(clock);
          Find(*form, "BtnStopPoll")->click();
        });
      }
    });
    watch.start();
    QTimer::singleShot(120000, [&] { Find(*form, "BtnStopPoll")->click(); });  // never hang
    const size_t framesBefore = sim.ReceivedFrames().size();
    Find(*form, "BtnStartPoll")->click();
    watch.stop();
    if (!measuring) {
      std::fprintf(stderr, "the simulator never reached idling\n");
      return 1;
    }
    Print(traces ? "poll loop, idle validator, Show Messages" : "poll loop, idle validator",
          idleStart, idleEnd);
    const size_t frames = sim.ReceivedFrames().size() - framesBefore;
    std::printf("  %zu frames received by the simulator during the loop (Poll + ACK pairs)\n",
                frames);
  }
  // 5. The session log alone: what one line costs (stamp, write and flush to the file).
  {
    QTemporaryDir dir;
    velkor::SessionLog log(dir.path());
    const QString trace = QStringLiteral("-> 02, 03, 06, 33, DA, 81, ");
    constexpr int kLines = 20000;
    const double cpu = Cpu(CLOCK_THREAD_CPUTIME_ID);
    for (int i = 0; i < kLines; ++i) log.Add(trace);
    std::printf("session log: %d lines, %.1f us of CPU per line (%s)\n", kLines,
                (Cpu(CLOCK_THREAD_CPUTIME_ID) - cpu) * 1000.0 / kLines,
                log.IsOpen() ? "written" : "off");
  }
  return 0;
}
