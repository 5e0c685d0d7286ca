// Figures of the simulator itself, so that benchmarks of the programs know what it adds:
// round trips over its pty without pacing, how closely pacing follows bytes x 10 / baud, and
// the CPU it burns while the line is idle.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "PtyPeer.h"
#include "bvsim.h"

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace {

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void RoundTrips(zelnet::test::PtyPeer& client, const char* what, const Bytes& request, int n) {
  std::vector<double> us;
  us.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    const auto t0 = Clock::now();
    if (!client.Exchange(request)) {
      std::printf("%s: no answer\n", what);
      return;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  std::sort(us.begin(), us.end());
  double sum = 0;
  for (double v : us) sum += v;
  std::printf("%-34s n=%d  mean %7.1f us  median %7.1f us  p99 %7.1f us\n", what, n,
              sum / double(n), us[us.size() / 2], us[us.size() * 99 / 100]);
}

}  // namespace

int main() {
  bvsim::Config config;
  config.firmwareSize = 0x80000;
  config.recordLimit = 100;
  bvsim::Simulator sim(config);
  if (!sim.Start()) return 1;
  zelnet::test::PtyPeer client(sim.SlavePath());
  const Bytes poll = bvsim::MakeRequest(3, bvsim::kPoll);
  const Bytes block = bvsim::MakeBlockRequest(3, 0xB000, Bytes(256, 0x5A));
  client.Exchange(bvsim::MakeRequest(3, bvsim::kDownload, {bvsim::kDownloadStart}));

  std::printf("Unpaced round trips over the pty (client write to complete answer read):\n");
  RoundTrips(client, "  Poll (6 + 6 bytes)", poll, 2000);
  RoundTrips(client, "  write block (268 + 6 bytes)", block, 1000);

  std::printf("Paced line (answer due at first request byte + (n + m) x 10 / baud):\n");
  for (unsigned baud : {9600u, 19200u, 115200u}) {
    sim.SetBaud(baud);
    sim.ClearReceived();
    sim.ClearSent();
    const int blocks = baud == 9600 ? 20 : 50;
    const auto t0 = Clock::now();
    for (int i = 0; i < blocks; ++i) client.Exchange(block);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double line = double(blocks) * (268 + 6) * 10 / double(baud);
    // The simulator's own lateness: answer written against request's first byte + line time.
    const auto got = sim.ReceivedFrames();
    const auto sent = sim.SentFrames();
    double worst = 0, sum = 0;
    const auto each = std::chrono::duration<double>((268 + 6) * 10.0 / double(baud));
    for (size_t i = 0; i < got.size() && i < sent.size(); ++i) {
      const double late =
          std::chrono::duration<double, std::micro>(sent[i].first - got[i].first - each).count();
      worst = std::max(worst, late);
      sum += late;
    }
    std::printf(
        "  %6u baud: %d blocks in %.4f s, line time %.4f s, ratio %.4f; answers late by "
        "%.0f us on average, %.0f us at worst\n",
        baud, blocks, wall, line, wall / line, sum / double(std::max<size_t>(1, sent.size())),
        worst);
  }
  sim.SetBaud(0);

  const double cpu0 = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const double idle = CpuSeconds() - cpu0;
  std::printf("CPU while idle with a client attached: %.3f%% of one core over 2 s\n",
              idle / 2 * 100);
  return 0;
}
