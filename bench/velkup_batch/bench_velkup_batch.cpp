// velkup-batch against four simulators paced at 19200 baud, printing its figures against the
// targets:
//   1. Encryption + BV Control (256 blocks) on one port, then on four ports at once:
//      wall time of four ports against one port                              (<= 1.03x)
//   2. CPU of the velkup-batch process meanwhile, per port                    (<= 2 % of a core)
// With --full, all three images (1,872 blocks, about 4.5 minutes per run) instead.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bvsim.h"

extern char** environ;

namespace {

// A HEX image covering [first, end) in 16-byte records, with linear address records.
std::string HexImage(uint32_t first, uint32_t end) {
  std::string text;
  char line[64];
  auto record = [&](uint8_t type, uint16_t address, const uint8_t* data, int n) {
    uint8_t sum = static_cast<uint8_t>(n + (address >> 8) + (address & 0xFF) + type);
    int len = std::snprintf(line, sizeof line, ":%02X%04X%02X", n, address, type);
    for (int i = 0; i < n; ++i) {
      len += std::snprintf(line + len, sizeof line - len, "%02X", data[i]);
      sum = static_cast<uint8_t>(sum + data[i]);
    }
    std::snprintf(line + len, sizeof line - len, "%02X\r\n", static_cast<uint8_t>(0x100 - sum));
    text += line;
  };
  uint32_t upper = 0xFFFFFFFF;
  for (uint32_t a = first; a < end; a += 16) {
    if ((a >> 16) != upper) {
      upper = a >> 16;
      const uint8_t ext[2] = {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)};
      record(4, 0, ext, 2);
    }
    uint8_t data[16];
    for (int i = 0; i < 16; ++i) data[i] = static_cast<uint8_t>((a + i) * 13 + ((a + i) >> 9));
    record(0, static_cast<uint16_t>(a & 0xFFFF), data, 16);
  }
  return text + ":00000001FF\r\n";
}

struct Run {
  double wall = 0;
  double cpu = 0;  // user + system of the velkup-batch process
  int status = -1;
};

// Runs velkup-batch on the first n simulators' ports, output to /dev/null.
Run RunBatch(const std::vector<std::unique_ptr<bvsim::Simulator>>& sims, size_t n,
             const std::string& images, const std::string& file) {
  std::vector<std::string> args = {VELKUP_BATCH};
  for (size_t i = 0; i < n; ++i) {
    sims[i]->PowerCycle(0x10);
    sims[i]->ClearReceived();
    args.push_back("--port");
    args.push_back(sims[i]->SlavePath());
  }
  args.push_back("--images");
  args.push_back(images);
  args.push_back(file);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  Run r;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) {
    std::perror("posix_spawn");
    return r;
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
          static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  posix_spawn_file_actions_destroy(&fa);
  return r;
}

const char* Verdict(bool ok) {
  return ok ? "OK" : "MISSED";
}

}  // namespace

int main(int argc, char** argv) {
  const bool full = argc > 1 && std::strcmp(argv[1], "--full") == 0;
  const uint32_t end = full ? 0x80000 : 0x1B000;
  const std::string images = full ? "encryption,bvcontrol,validation" : "encryption,bvcontrol";
  const unsigned blocks = (end - 0xB000) / 256;

  char dirTemplate[] = "/tmp/bench_velkup_batch_XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  const std::string file = dir + "/firmware.vkf";
  std::ofstream(file) << HexImage(0xB000, end);
  setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);  // the history stays out of the way

  std::vector<std::unique_ptr<bvsim::Simulator>> sims;
  for (int i = 0; i < 4; ++i) {
    bvsim::Config c;
    c.firmwareSize = 0x80000;
    c.baud = 19200;
    c.recordLimit = 64;
    sims.push_back(std::make_unique<bvsim::Simulator>(c));
    if (!sims.back()->Start()) {
      std::fprintf(stderr, "bvsim: %s\n", sims.back()->LastError().c_str());
      return 1;
    }
  }

  std::printf("velkup-batch, %u blocks per port, simulators paced at 19200 baud\n", blocks);
  const Run one = RunBatch(sims, 1, images, file);
  std::printf("  one port:   %7.2f s wall, %.3f s CPU, exit %d\n", one.wall, one.cpu, one.status);
  const Run four = RunBatch(sims, 4, images, file);
  std::printf("  four ports: %7.2f s wall, %.3f s CPU, exit %d\n", four.wall, four.cpu,
              four.status);
  const double ratio = four.wall / one.wall;
  const double cpuPerPort = four.cpu / four.wall / 4 * 100;
  std::printf("  wall time four ports / one port: %.4f   (target <= 1.03)  %s\n", ratio,
              Verdict(ratio <= 1.03));
  std::printf("  CPU per port, four ports:        %.3f %% of a core (target <= 2 %%)  %s\n",
              cpuPerPort, Verdict(cpuPerPort <= 2));
  std::printf("  CPU, one port:                   %.3f %% of a core\n", one.cpu / one.wall * 100);
  for (auto& s : sims) s->Stop();
  std::filesystem::remove_all(dir);
  return one.status == 0 && four.status == 0 ? 0 : 1;
}
