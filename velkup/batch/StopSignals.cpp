#include "StopSignals.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#else
#include <io.h>

#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#endif

namespace velkup {

namespace {

#ifdef Q_OS_UNIX
// The signal handler writes one byte into a pipe, which the event loop watches.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
#else
std::atomic<bool> stopNoted{false};

void OnSignal(int) {
  stopNoted = true;
}
#endif

}  // namespace

TStopSignals::TStopSignals(std::function<void()> onStop) : onStop_(std::move(onStop)) {
#ifdef Q_OS_UNIX
  if (::pipe(signalPipe) != 0) return;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  if (sigaction(SIGINT, &sa, nullptr) != 0 || sigaction(SIGTERM, &sa, nullptr) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] {
    char buf[16];
    [[maybe_unused]] const auto n = ::read(signalPipe[0], buf, sizeof buf);
    onStop_();
  });
#else
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  auto* watch = new QTimer(this);
  connect(watch, &QTimer::timeout, this, [this] {
    if (stopNoted.exchange(false)) onStop_();
  });
  watch->start(100);
#endif
  ok_ = true;
}

TStopSignals::~TStopSignals() {
#ifdef Q_OS_UNIX
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
#else
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
#endif
}

bool StdoutIsTerminal() {
#ifdef Q_OS_UNIX
  return ::isatty(STDOUT_FILENO) == 1;
#else
  return _isatty(_fileno(stdout)) != 0;
#endif
}

}  // namespace velkup
