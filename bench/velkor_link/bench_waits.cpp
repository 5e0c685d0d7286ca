// CPU used by Velkor's waits: a 2,000 ms Delay and a 3 s answer time-out on a silent line.
// Prints wall time, process CPU time and CPU as a share of one core (goal: under 2 %).
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>
#include <vector>

#include "Frame.h"
#include "PtyPeer.h"
#include "ZelnetLink.h"

namespace {

double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

void Measure(const char* what, const std::function<void()>& wait) {
  QElapsedTimer wall;
  const double cpu0 = CpuMs();
  wall.start();
  wait();
  const double wallMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
  const double cpuMs = CpuMs() - cpu0;
  std::printf("%-34s wall %8.1f ms   CPU %6.2f ms   %5.2f %% of one core\n", what, wallMs, cpuMs,
              100.0 * cpuMs / wallMs);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  zelnet::test::PtyPeer silent;  // a line on which nothing ever answers
  qputenv("ZELNET_COM1", QByteArray::fromStdString(silent.SlavePath()));

  velkor::ZelnetLink link(velkor::LinkHost{});
  if (!link.OpenPort('1', 9600)) {
    std::fprintf(stderr, "cannot open the pseudo-terminal\n");
    return 1;
  }
  Measure("Delay(2000)", [&] { link.Delay(2000); });
  Measure("ReadAnswer time-out (300 ticks)", [&] {
    std::vector<uint8_t> buffer(16);
    velkor::BuildFrame(0x33, buffer);
    link.Exchange(buffer, 300, 0x33);  // WriteFrame and ReadAnswer, untraced
  });
  Measure("SendCommand time-out (300 ticks)", [&] {
    std::vector<uint8_t> buffer(16);
    link.SendCommand(0x33, buffer, 300);
  });
  return 0;
}
