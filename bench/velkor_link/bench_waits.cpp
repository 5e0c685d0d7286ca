// Velkor's waits on the line: the CPU they use (a 2,000 ms Delay and a 3 s answer time-out on a
// silent line, a second of an idle link whose far end hung up; goal under 2 % of one core), and
// how soon each kind of wait ends (the figures tests must not assert: they depend on the
// machine's load). Prints wall time, process CPU time and CPU as a share of one core.
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "Frame.h"
#include "PortNames.h"
#include "PtyPeer.h"
#include "QtSerialLine.h"
#include "ZelnetLink.h"

namespace {

using zelnet::test::Bytes;

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
  std::printf("%-52s wall %8.1f ms   CPU %6.2f ms   %5.2f %% of one core\n", what, wallMs, cpuMs,
              100.0 * cpuMs / wallMs);
}

// One exchange of a Poll over the link, untraced; its result.
int Poll(velkor::ZelnetLink& link, size_t bufferSize, int ticks) {
  std::vector<uint8_t> buffer(bufferSize);
  velkor::BuildFrame(velkor::kCmdPoll, buffer);
  return link.Exchange(buffer, ticks, velkor::kCmdPoll);
}

// A serial line that notes when RTS is switched, over the real port.
class RtsClock final : public velkor::SerialLine {
 public:
  RtsClock(std::unique_ptr<velkor::SerialLine> real, std::vector<qint64>& switches,
           const QElapsedTimer& clock)
      : real_(std::move(real)), switches_(switches), clock_(clock) {}
  bool GetState(velkor::TDcb& dcb) override { return real_->GetState(dcb); }
  bool SetState(const velkor::TDcb& dcb) override { return real_->SetState(dcb); }
  bool SetRts(bool high) override {
    switches_.push_back(clock_.elapsed());
    return real_->SetRts(high);
  }
  size_t Write(const uint8_t* data, size_t size, int timeoutMs) override {
    return real_->Write(data, size, timeoutMs);
  }
  int ReadByte(uint8_t& byte, int waitMs) override { return real_->ReadByte(byte, waitMs); }

 private:
  std::unique_ptr<velkor::SerialLine> real_;
  std::vector<qint64>& switches_;
  const QElapsedTimer& clock_;
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  std::printf("CPU while waiting\n");
  {
    zelnet::test::PtyPeer silent;  // a line on which nothing ever answers
    zelnet::test::PortNames ports{{silent.SlavePath()}};
    velkor::ZelnetLink link(velkor::LinkHost{});
    if (!link.OpenPort('1', 9600)) {
      std::fprintf(stderr, "cannot open the pseudo-terminal\n");
      return 1;
    }
    Measure("Delay(2000)", [&] { link.Delay(2000); });
    Measure("ReadAnswer time-out (300 ticks)", [&] { Poll(link, 16, 300); });
    Measure("SendCommand time-out (300 ticks)", [&] {
      std::vector<uint8_t> buffer(16);
      link.SendCommand(velkor::kCmdPoll, buffer, 300);
    });
  }
  {
    auto peer = std::make_unique<zelnet::test::PtyPeer>();
    zelnet::test::PortNames ports{{peer->SlavePath()}};
    velkor::ZelnetLink link(velkor::LinkHost{});
    if (!link.OpenPort('1', 9600)) return 1;
    peer.reset();  // the far end hangs up under the open port
    Measure("idle link, far end hung up (1 s of events)", [] {
      QEventLoop idle;
      QTimer::singleShot(1000, &idle, &QEventLoop::quit);
      idle.exec();
    });
  }

  std::printf("\nHow soon a wait ends (each on a line of its own)\n");
  const Bytes ack = {0x02, 0x03, 0x06, 0x00, 0xC2, 0x82};
  struct Line {
    zelnet::test::PtyPeer peer;
    zelnet::test::PortNames ports{{peer.SlavePath()}};
    velkor::ZelnetLink link{velkor::LinkHost{}};
    bool open = link.OpenPort('1', 9600);
  };
  {
    Line line;
    Measure("Delay(200)", [&] { line.link.Delay(200); });
  }
  {
    Line line;
    line.peer.QueueAnswer({{600, ack}});
    Measure("time-out 200 ms, answer due at 600 ms", [&] { Poll(line.link, 32, 20); });
  }
  {
    Line line;
    Bytes longAnswer = {0x02, 0x03, 0x28};
    while (longAnswer.size() < 38) longAnswer.push_back(0x41);
    line.peer.QueueAnswer(zelnet::test::WithCrc(longAnswer));
    Measure("answer of 40 bytes for 16 (time-out 1 s)", [&] { Poll(line.link, 16, 100); });
  }
  {
    Line line;
    line.peer.QueueAnswer(Bytes{0x02, 0x03, 0x04, 0x10, 0x20, 0x30});
    Measure("length no frame can have (time-out 3 s)", [&] { Poll(line.link, 32, 300); });
  }
  {
    Line line;
    Measure("timer's handler after 100 ms (time-out 100 s)", [&] {
      QTimer::singleShot(100, &line.link, [&] { line.link.TimerComPortTimer(); });
      Poll(line.link, 16, 10000);
    });
  }
  {
    velkor::ZelnetLink link{velkor::LinkHost{}};
    Measure("no port (time-out 3 s)", [&] { Poll(link, 16, 300); });
  }

  // The bus reset's RTS pulse on a silent port: raised, lowered after about 50 ms.
  {
    Line line;
    velkor::ZelnetLink& link = line.link;
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> switches;
    link.SetOpener([&](const QString& path) -> std::unique_ptr<velkor::SerialLine> {
      auto real = velkor::QtSerialLine::Open(path);
      if (!real) return nullptr;
      return std::make_unique<RtsClock>(std::move(real), switches, clock);
    });
    Measure("bus reset over COM1 (silent) and three absent", [&] {
      link.Search(
          velkor::ZelnetLink::Probe::BusReset, [] { return 9600u; }, [](int) {});
    });
    if (switches.size() >= 2) {
      std::printf("%-52s %8lld ms (goal about 50)\n", "  RTS pulse, raised to lowered",
                  static_cast<long long>(switches[1] - switches[0]));
    }
  }
  return 0;
}
