// velkup-batch --watch on four ports against simulators paced at 19200 baud, Encryption and BV
// Control (256 blocks), three units per port plugged in one after the other. It prints:
//   1. CPU of the velkup-batch process while the four ports wait empty, with no adapter and
//      with adapters but no unit answering                                (<= 1 % of a core)
//   2. per unit: plug-in to first block                                    (<= 2 s)
//   3. per unit: plug-in to DownloadFinish answered, against the line time of the update's own
//      bytes (first Poll to DownloadFinish, both directions; the check after is excluded)
//                                                                          (<= 1.05x)
//   4. units per hour for the four ports
// A unit is "plugged in" when its simulator's pty appears behind the port's name.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HexWriter.h"
#include "bvsim.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr unsigned kBaud = 19200;
constexpr int kPorts = 4;
constexpr int kUnitsPerPort = 3;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// User + system CPU of a process so far, in seconds.
double ProcessCpu(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string f;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stoull(f);
    if (i == 15) stime = std::stoull(f);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The share of a core a process used over `span`.
double CpuPercentOver(pid_t pid, std::chrono::seconds span) {
  const double before = ProcessCpu(pid);
  const auto start = Clock::now();
  std::this_thread::sleep_for(span);
  return (ProcessCpu(pid) - before) / Seconds(Clock::now() - start) * 100;
}

struct UnitTimes {
  int port = 0;
  Clock::time_point plugged, firstBlock, finished;
  double lineSeconds = 0;  // the update's bytes at 19200 baud
  bool ok = false;
};

// One unit: a simulator whose observer notes the first block and the DownloadFinish answer.
struct Unit {
  explicit Unit(const std::string& serial) {
    bvsim::Config c;
    c.firmwareSize = 0x80000;
    c.baud = kBaud;
    c.serialNumber = serial;
    sim = std::make_unique<bvsim::Simulator>(c);
    sim->SetObserver([this](bool sent, const bvsim::Frame& f) {
      std::lock_guard lock(mu);
      // The update's own bytes begin with the first Poll after the identification.
      if (!sent && f.Command() == 0x37) identified = true;
      if (!sent && f.Command() == 0x33 && identified && !updating) updating = true;
      if (updating && !finishSeen) lineBytes += f.bytes.size();
      if (!sent && f.Command() == 0x50 && f.SubCommand() == 0x02 && !blockSeen) {
        blockSeen = true;
        firstBlock = f.first;
      }
      if (!sent && f.Command() == 0x50 && f.SubCommand() == 0x03) finishRequested = true;
      if (sent && finishRequested && !finishSeen) {
        finishSeen = true;
        finished = f.t;
      }
      if (!sent && finishSeen && f.Command() == 0x37) checked = true;
    });
  }
  bool Wait(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      {
        std::lock_guard lock(mu);
        if (done()) return true;
      }
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }

  std::unique_ptr<bvsim::Simulator> sim;
  std::mutex mu;
  bool identified = false, updating = false, blockSeen = false, finishRequested = false,
       finishSeen = false;
  bool checked = false;
  size_t lineBytes = 0;
  Clock::time_point firstBlock, finished;
};

void Link(const std::string& port, const std::string& target) {
  std::filesystem::remove(port);
  std::filesystem::create_symlink(target, port);
}

const char* Verdict(bool ok) {
  return ok ? "OK" : "MISSED";
}

}  // namespace

int main() {
  char dirTemplate[] = "/tmp/bench_velkup_watch_XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  const std::string file = dir + "/firmware.vkf";
  std::ofstream(file) << zelnet::test::HexImage(0xB000, 0x1B000);
  setenv("XDG_DATA_HOME", (dir + "/data").c_str(), 1);  // the history stays out of the way
  std::vector<std::string> ports;
  for (int i = 0; i < kPorts; ++i) ports.push_back(dir + "/port" + std::to_string(i));

  std::vector<std::string> args = {VELKUP_BATCH, "--watch",  "--baud",
                                   "19200",      "--images", "encryption,bvcontrol"};
  for (const std::string& p : ports) args.insert(args.end(), {"--port", p});
  args.push_back(file);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, (dir + "/out.txt").c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) {
    std::perror("posix_spawn");
    return 1;
  }
  posix_spawn_file_actions_destroy(&fa);

  std::printf("velkup-batch --watch, %d ports, simulators paced at %u baud, 256 blocks per unit\n",
              kPorts, kBaud);
  std::this_thread::sleep_for(1s);
  const double idleMissing = CpuPercentOver(pid, 20s);
  std::printf(
      "  CPU, four ports without adapters:          %.3f %% of a core (target <= 1 %%)  %s\n",
      idleMissing, Verdict(idleMissing <= 1));
  {
    // Adapters there, no unit answering: one Poll a second on each.
    std::vector<std::unique_ptr<bvsim::Simulator>> empty;
    for (int i = 0; i < kPorts; ++i) {
      empty.push_back(std::make_unique<bvsim::Simulator>());
      empty.back()->SetSilent(true);
      if (!empty.back()->Start()) return 1;
      Link(ports[static_cast<size_t>(i)], empty.back()->SlavePath());
    }
    std::this_thread::sleep_for(2s);
    const double idleEmpty = CpuPercentOver(pid, 20s);
    std::printf(
        "  CPU, four adapters with no unit answering: %.3f %% of a core (target <= 1 %%)  %s\n",
        idleEmpty, Verdict(idleEmpty <= 1));
    for (size_t i = 0; i < empty.size(); ++i) {
      empty[i]->Stop();
      std::filesystem::remove(ports[i]);
    }
    std::this_thread::sleep_for(1s);
  }

  // Three units per port, one after the other; the four ports at once.
  std::mutex timesMu;
  std::vector<UnitTimes> times;
  const auto start = Clock::now();
  std::vector<std::thread> benches;
  for (int p = 0; p < kPorts; ++p)
    benches.emplace_back([&, p] {
      for (int u = 0; u < kUnitsPerPort; ++u) {
        Unit unit("P" + std::to_string(p) + "-U" + std::to_string(u));
        if (!unit.sim->Start()) return;
        UnitTimes t;
        t.port = p;
        t.plugged = Clock::now();
        Link(ports[static_cast<size_t>(p)], unit.sim->SlavePath());
        t.ok = unit.Wait([&] { return unit.checked; }, 300s);
        t.firstBlock = unit.firstBlock;
        t.finished = unit.finished;
        t.lineSeconds = static_cast<double>(unit.lineBytes) * 10 / kBaud;
        // Taken away once it has been checked; the next one is plugged in at once.
        unit.sim->Stop();
        std::filesystem::remove(ports[static_cast<size_t>(p)]);
        std::lock_guard lock(timesMu);
        times.push_back(t);
      }
    });
  for (auto& b : benches) b.join();
  const double total = Seconds(Clock::now() - start);

  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);

  std::sort(times.begin(), times.end(), [](const UnitTimes& a, const UnitTimes& b) {
    return a.port != b.port ? a.port < b.port : a.plugged < b.plugged;
  });
  std::printf("  %-4s %-5s %-14s %-22s %-12s %s\n", "port", "unit", "plug-in→block",
              "plug-in→finish", "line time", "ratio");
  double worstBlock = 0, worstRatio = 0;
  bool allOk = true;
  int n = 0;
  for (const UnitTimes& t : times) {
    allOk = allOk && t.ok;
    const double toBlock = Seconds(t.firstBlock - t.plugged);
    const double toFinish = Seconds(t.finished - t.plugged);
    const double ratio = toFinish / t.lineSeconds;
    worstBlock = std::max(worstBlock, toBlock);
    worstRatio = std::max(worstRatio, ratio);
    std::printf("  %-4d %-5d %8.3f s     %10.3f s           %8.3f s   %.4f%s\n", t.port,
                n++ % kUnitsPerPort, toBlock, toFinish, t.lineSeconds, ratio,
                t.ok ? "" : "  (failed)");
  }
  std::printf("  plug-in to first block, worst:      %.3f s   (target <= 2 s)  %s\n", worstBlock,
              Verdict(worstBlock <= 2));
  std::printf("  plug-in to finish / line time, worst: %.4f  (target <= 1.05)  %s\n", worstRatio,
              Verdict(worstRatio <= 1.05));
  std::printf("  %zu units in %.1f s on %d ports: %.1f units per hour\n", times.size(), total,
              kPorts, static_cast<double>(times.size()) / total * 3600);
  std::printf("  velkup-batch exit status after Ctrl-C: %d, every unit checked: %s\n",
              WIFEXITED(status) ? WEXITSTATUS(status) : -1, allOk ? "yes" : "no");
  std::ifstream out(dir + "/out.txt");
  std::string line, summary;
  for (bool in = false; std::getline(out, line);) {
    if (line.rfind("PORT", 0) == 0) in = true;
    if (in) summary += "    " + line + "\n";
  }
  std::printf("  its summary:\n%s", summary.c_str());
  std::filesystem::remove_all(dir);
  return allOk && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
