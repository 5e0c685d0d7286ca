// The device search of ZelnetLink: COM1 to COM4 in turn, one probe each, the first that answers
// stays open.
#include <QThread>
#include <array>

#include "Frame.h"
#include "ZelnetLink.h"

namespace velkor {

namespace {

// A port that cannot be opened costs this blocking pause.
constexpr unsigned long kFailedOpenPauseMs = 300;
// The RTS pulse of the bus reset and the validator's restart time after it.
constexpr int kRtsPulseMs = 50;
constexpr int kRestartWaitMs = 2000;
// Every probe's answer time-out, ticks of 10 ms.
constexpr int kProbeTicks = 30;
constexpr int kCandidatePorts = 4;
// The answers a probe expects are short: a Poll answer or the acknowledgement of a Reset.
constexpr size_t kProbeBufferSize = 256;

}  // namespace

int ZelnetLink::Search(Probe probe, const std::function<uint32_t()>& baud,
                       const std::function<void(int)>& position) {
  searching_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{searching_};
  if (probe == Probe::BusReset) ClosePort();

  std::array<uint8_t, kProbeBufferSize> buffer{};
  for (int n = 1; n <= kCandidatePorts; ++n) {
    position(n);
    if (!SerialPort.OpenPort(static_cast<char>('0' + n), baud())) {
      if (!SerialPort.OpenProblem().isEmpty() && host_.Note)
        host_.Note(QStringLiteral("COM%1: %2").arg(n).arg(SerialPort.OpenProblem()));
      QThread::msleep(kFailedOpenPauseMs);
      continue;
    }
    if (probe == Probe::BusReset) {
      SerialPort.SetRts(true);
      Delay(kRtsPulseMs);
      SerialPort.SetRts(false);
      Delay(kRestartWaitMs);
    }
    buffer.fill(0);
    const uint8_t code = probe == Probe::BusReset ? kCmdPoll : kCmdReset;
    if (SendCommand(code, buffer, kProbeTicks) == txOk) return n;
    ClosePort();
  }
  return 0;
}

}  // namespace velkor
