// bvsim: the simulated bill validator as a program. It creates a pseudo-terminal, prints its
// path (or links it where asked), prints one line per frame exchanged and takes typed commands
// on standard input until quit, SIGINT or SIGTERM. With standard input at its end it keeps
// serving until a signal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "bvsim.h"
#include "console.h"
#include "describe.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

std::mutex printMutex;

void Print(const std::string& line) {
  std::lock_guard lock(printMutex);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void Usage() {
  Print(
      "usage: bvsim [--link PATH] [--address A[,B...]] [--family qa|qb|both] [--baud N]\n"
      "             [--block-power N] [--memory BYTES] [--init-polls N] [--power-up 10|11|12]\n"
      "             [--serial SN] [--part-number PN] [--asset N]\n"
      "             [--restart-after-update SECONDS] [--scenario FILE] [--quiet]\n"
      "Serves a simulated bill validator on a new pseudo-terminal and prints its path.\n"
      "Type help for the commands it takes on standard input.");
}

bool ParseNumber(const std::string& s, unsigned long long& v, unsigned long long hi) {
  std::string_view t = s;
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    t.remove_prefix(2);
  }
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v, base);
  return !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size() && v <= hi;
}

// A count of seconds, with up to three decimals ("2", "0.5"), as milliseconds.
bool ParseSeconds(const std::string& s, int& ms) {
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size() || !(v >= 0) || v > 86400)
    return false;
  ms = int(v * 1000 + 0.5);
  return true;
}

// Identification text: printable ASCII that fits its field.
bool ParseIdText(const std::string& s, size_t max, std::string& out) {
  if (s.size() > max) return false;
  for (char c : s)
    if (c < 0x20 || c > 0x7E) return false;
  out = s;
  return true;
}

// Comma-separated hexadecimal bytes, 0x optional.
bool ParseAddresses(const std::string& s, std::vector<uint8_t>& out) {
  out.clear();
  size_t start = 0;
  while (start <= s.size()) {
    const size_t comma = s.find(',', start);
    std::string part =
        s.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (part.rfind("0x", 0) != 0 && part.rfind("0X", 0) != 0) part = "0x" + part;
    unsigned long long v = 0;
    if (!ParseNumber(part, v, 0xFF)) return false;
    out.push_back(uint8_t(v));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return !out.empty();
}

struct Options {
  bvsim::Config config;
  std::string link;
  std::string scenario;
  bool quiet = false;
};

// Fills the options; false with an error line printed for bad input.
bool ParseArgs(int argc, char** argv, Options& o, bool& help) {
  o.config.recordLimit = 1000;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    unsigned long long n = 0;
    std::vector<uint8_t> power;
    if (a == "--help" || a == "-h") {
      help = true;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else if (a == "--link" && value(v)) {
      o.link = v;
    } else if (a == "--scenario" && value(v)) {
      o.scenario = v;
    } else if (a == "--address" && value(v) && ParseAddresses(v, o.config.addresses)) {
    } else if (a == "--family" && value(v) && (v == "qa" || v == "qb" || v == "both")) {
      o.config.addresses = v == "qa"   ? std::vector<uint8_t>{0x01}
                           : v == "qb" ? std::vector<uint8_t>{0x03}
                                       : std::vector<uint8_t>{0x03, 0x01};
    } else if (a == "--baud" && value(v) && ParseNumber(v, n, 10000000)) {
      o.config.baud = unsigned(n);
    } else if (a == "--block-power" && value(v) && ParseNumber(v, n, 15)) {
      o.config.blockPower = uint8_t(n);
    } else if (a == "--memory" && value(v) && ParseNumber(v, n, 1 << 24) && n > 0) {
      o.config.firmwareSize = size_t(n);
    } else if (a == "--init-polls" && value(v) && ParseNumber(v, n, 1000)) {
      o.config.initPolls = int(n);
    } else if (a == "--serial" && value(v) && ParseIdText(v, 12, o.config.serialNumber)) {
    } else if (a == "--part-number" && value(v) && ParseIdText(v, 15, o.config.partNumber)) {
    } else if (a == "--asset" && value(v) && ParseNumber(v, n, (1ull << 56) - 1)) {
      for (int b = 6; b >= 0; --b, n >>= 8) o.config.assetNumber[size_t(b)] = uint8_t(n & 0xFF);
    } else if (a == "--restart-after-update" && value(v) &&
               ParseSeconds(v, o.config.restartAfterUpdateMs)) {
    } else if (a == "--power-up" && value(v) && ParseAddresses(v, power) && power.size() == 1 &&
               power[0] >= 0x10 && power[0] <= 0x12) {
      o.config.powerUpStatus = power[0];
    } else {
      Print("bvsim: bad option " + a + (v.empty() ? "" : " " + v) + " (see bvsim --help)");
      return false;
    }
  }
  return true;
}

// Points `link` at `target`, replacing an older symbolic link but never another file.
bool MakeLink(const std::string& link, const std::string& target) {
  struct stat st {};
  if (::lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      Print("bvsim: " + link + " exists and is not a symbolic link; not replaced");
      return false;
    }
    ::unlink(link.c_str());
  }
  if (::symlink(target.c_str(), link.c_str()) != 0) {
    Print("bvsim: cannot link " + link + ": " + std::strerror(errno));
    return false;
  }
  return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
  char buf[4096];
  const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
  if (n > 0 && std::string(buf, size_t(n)) == target) ::unlink(link.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  bool help = false;
  if (!ParseArgs(argc, argv, opt, help)) return 2;
  if (help) {
    Usage();
    return 0;
  }

  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  ::sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGHUP, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  bvsim::Simulator sim(opt.config);
  bvsim::Console console(sim);
  std::vector<uint8_t> lastRequest;  // touched by the service thread only
  const bool quiet = opt.quiet;
  sim.SetObserver([&](bool sent, const bvsim::Frame& f) {
    if (!sent && f.crcOk) lastRequest = f.bytes;
    if (quiet || !console.Trace()) return;
    const std::string text = sent ? bvsim::DescribeAnswer(lastRequest, f.bytes)
                                  : bvsim::DescribeRequest(f.bytes, f.crcOk);
    Print(std::string(sent ? "-> " : "<- ") + bvsim::HexBytes(f.bytes) + "  " + text);
  });
  if (!sim.Start()) {
    Print("bvsim: cannot create a pseudo-terminal: " + sim.LastError());
    return 1;
  }
  const std::string path = sim.SlavePath();
  bool linked = false;
  if (!opt.link.empty()) {
    linked = MakeLink(opt.link, path);
    if (linked) console.SetLink(opt.link);
  }
  std::string addresses;
  for (uint8_t a : opt.config.addresses) {
    char b[8];
    std::snprintf(b, sizeof b, "%s0x%02X", addresses.empty() ? "" : ", ", a);
    addresses += b;
  }
  Print("bvsim: validator on " + path + (linked ? " (linked at " + opt.link + ")" : "") +
        ", addresses " + addresses +
        (opt.config.baud ? ", paced at " + std::to_string(opt.config.baud) + " baud" : "") +
        ", serial number " + opt.config.serialNumber +
        (opt.config.restartAfterUpdateMs
             ? ", restarting " + std::to_string(opt.config.restartAfterUpdateMs) +
                   " ms after an update"
             : "") +
        ". Type help for commands.");

  // The scenario runs beside standard input, so its sleeps and waits do not block the prompt.
  std::atomic<bool> quit{false};
  std::thread scenario;
  if (!opt.scenario.empty()) {
    scenario = std::thread([&] {
      std::ifstream in(opt.scenario);
      if (!in) {
        Print("error: cannot read scenario " + opt.scenario);
        return;
      }
      int number = 0;
      for (std::string line; !quit && std::getline(in, line);) {
        ++number;
        const bvsim::Console::Result r = console.Run(line);
        for (const std::string& l : r.lines)
          Print(r.ok ? l : opt.scenario + ":" + std::to_string(number) + ": " + l);
        if (r.quit) {
          quit = true;
          OnSignal(0);
        }
      }
    });
  }

  bool stdinOpen = true;
  std::string pending;
  while (!quit) {
    pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const int n = ::poll(fds, stdinOpen ? 2 : 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;  // a signal, or quit from the scenario
    if (!stdinOpen || !fds[1].revents) continue;
    char buf[1024];
    const ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
    if (got <= 0) {
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      stdinOpen = false;  // end of input: keep serving until a signal
      continue;
    }
    pending.append(buf, size_t(got));
    if (pending.size() > 65536) pending.clear();  // no line is that long
    for (size_t nl; !quit && (nl = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      const bvsim::Console::Result r = console.Run(line);
      for (const std::string& l : r.lines) Print(l);
      if (r.quit) quit = true;
    }
  }
  quit = true;
  console.Interrupt();
  if (scenario.joinable()) scenario.join();
  sim.Stop();
  if (linked) RemoveLink(opt.link, path);
  Print("bvsim: stopped");
  return 0;
}
