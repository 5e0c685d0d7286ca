// bvsim: a simulated bill validator on a pseudo-terminal, for tests, benchmarks and demos.
//
//   bvsim::Simulator sim;                    // or Simulator(config)
//   sim.Start();                             // creates the pty and serves it on a thread
//   setenv("ZELNET_COM1", sim.SlavePath().c_str(), 1);
//   sim.InsertBill(2);                       // a 50-USA bill at the bezel
//   sim.WaitForFrame([](const bvsim::Frame& f) { return f.Command() == 0x35; }, 5s);
//
// Every member function is thread-safe. Plain C++20 and POSIX; no Qt.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "device.h"
#include "frame.h"
#include "statistics.h"

namespace bvsim {

// One frame seen on the line. For received frames t is when its last byte was read and first
// when its first byte was read; for sent frames both are when it was written (first: its
// first byte, t: its last).
struct Frame {
  std::chrono::steady_clock::time_point t;
  std::vector<uint8_t> bytes;
  bool crcOk = false;
  std::chrono::steady_clock::time_point first;

  // Request helpers (0 / -1 when the frame is too short).
  uint8_t Address() const { return bytes.size() > 1 ? bytes[1] : 0; }
  int Command() const { return bytes.size() > 3 ? bytes[3] : -1; }
  // Sub-command of a 0x50 request (byte 4), -1 for the Download command alone.
  int SubCommand() const { return bytes.size() > 6 && Command() == 0x50 ? bytes[4] : -1; }
};

constexpr int kAny = -1;
constexpr int kForever = -1;

// A fault applied to the answers of the requests it matches. Matching: command (kAny = every
// request), subCommand (for 0x50 requests; kAny = any, including the command alone),
// blockAddress / blockIndex (write-block requests only: the block's address, or its address
// divided by its own length). The first `skip` matching requests pass untouched, the next
// `count` (kForever = all) get the fault. Several faults may hit one request; they combine.
struct Fault {
  enum Kind {
    Silent,       // no answer
    Late,         // answer delayMs later
    Drip,         // answer one byte at a time, delayMs between bytes
    BadCrc,       // check code corrupted (both bytes inverted)
    SwapCrc,      // the two check-code bytes swapped
    Invalid,      // the invalid-command answer (data byte 0x30) instead
    Truncate,     // only the first `bytes` bytes of the answer are sent
    WrongLength,  // the length byte says `bytes`; check code made over what is sent
    OverLength,   // extended form padded with zero data to `bytes` in all (default 65535),
                  // check code right: an answer longer than any client buffer
    ShortData,    // a well-formed answer keeping only its first `bytes` data bytes
    Refuse,       // answer with the single data byte `code` (e.g. a refused block)
    DropLine,     // no answer; the pty master is closed, the client sees a hang-up
  };
  Kind kind = Silent;
  int command = kAny;
  int subCommand = kAny;
  int64_t blockAddress = kAny;
  int64_t blockIndex = kAny;
  int skip = 0;
  int count = 1;
  int delayMs = 0;
  int bytes = 0;
  uint8_t code = 0;
};

class Simulator {
 public:
  explicit Simulator(Config config = {});
  ~Simulator();  // stops
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Creates a pty (the slave in raw mode, echo off, held open by the simulator so clients may
  // open and close it at will) and serves it on a thread. False with LastError() on failure.
  // After Stop() or a dropped line, Start() serves a new pty (a new path) with the device
  // state kept.
  bool Start();
  // Stops the thread and closes the pty: clients see a hang-up. Safe to call twice.
  void Stop();
  bool Running() const;
  std::string SlavePath() const;
  std::string LastError() const;
  // True once a DropLine fault has closed the line.
  bool LineDropped() const;

  // ---- The validator.
  // A bill of type 0-23 at the bezel: taken in (accepting) as soon as the unit idles with no
  // fault, queued until then. False for a type out of range.
  bool InsertBill(int type);
  // A barcode coupon (bill type 23) with these digits (Config::barcode when empty).
  bool InsertCoupon(const std::string& digits = {});
  // The next bill taken in is rejected (0x1C) with this reason.
  void RejectNextBill(uint8_t reason);
  // Power off and on: power-up status 0x12 if a bill was being stacked, 0x11 if one was on
  // its way otherwise, else Config::powerUpStatus; or the given status (0x10-0x12). Masks are
  // cleared; physical faults (jam, cassette, stacker, failure) stay.
  void PowerCycle();
  void PowerCycle(uint8_t powerUpStatus);
  // Physical faults, reported by Poll until cleared; clearing one goes through Initialize.
  // A jam or fault that comes while a bill is on its way ends that bill's road.
  void Jam(bool on = true, JamKind kind = JamKind::Acceptor);
  void SetCassetteOut(bool out);
  void SetStackerFull(bool full);
  void SetFailure(uint8_t code);  // 0x47 with this failure code; 0 clears
  void SetBusy(int polls);        // the next polls answer 0x1B

  // ---- The line.
  // Silent: every request is recorded and none is answered.
  void SetSilent(bool silent);
  // The next Poll answers carry these data bytes (e.g. {0x80, 2}), one per Poll, instead of
  // the state machine's (which does not move meanwhile).
  void ScriptPollAnswers(std::vector<std::vector<uint8_t>> dataBytes);
  // The next `times` requests with this code (kAny: any) get an answer with these data bytes
  // instead of their own handling (the request then has no effect).
  void ScriptAnswer(int command, std::vector<uint8_t> dataBytes, int times = 1);
  // Same, but the bytes are sent exactly as given (no framing, no check code).
  void ScriptRawAnswer(int command, std::vector<uint8_t> bytes, int times = 1);
  void ClearScripts();
  void InjectFault(const Fault& fault);
  void ClearFaults();
  // Line pacing at runtime (Config::baud).
  void SetBaud(unsigned baud);
  void SetBlockPower(uint8_t power);

  // ---- Records.
  // The speed the client has set on the line (its termios output speed), 0 when unknown.
  unsigned LineBaud() const;
  std::vector<Frame> ReceivedFrames() const;
  std::vector<Frame> SentFrames() const;
  void ClearReceived();
  void ClearSent();
  // Waits until at least n frames have been received since the last ClearReceived().
  bool WaitForFrames(size_t n, std::chrono::milliseconds timeout);
  // Waits until a received frame (already recorded or new) satisfies pred.
  bool WaitForFrame(const std::function<bool(const Frame&)>& pred,
                    std::chrono::milliseconds timeout);
  // Waits for a well-formed request with this command code.
  bool WaitForCommand(uint8_t command, std::chrono::milliseconds timeout);
  // Waits until at least n answers have been written since the last ClearSent().
  bool WaitForSentFrames(size_t n, std::chrono::milliseconds timeout);

  // Called on the service thread for every frame received (sent = false) and sent (true),
  // outside the lock. Set before Start().
  using Observer = std::function<void(bool sent, const Frame& frame)>;
  void SetObserver(Observer observer);

  // ---- State.
  // What the next Poll would answer (status code, and sub-code where it has one).
  std::vector<uint8_t> PollAnswer() const;
  uint8_t StatusCode() const;
  std::array<uint8_t, 3> EnabledMask() const;
  std::array<uint8_t, 3> EscrowMask() const;
  std::array<uint8_t, 3> SecurityMask() const;
  int BarcodeLength() const;
  bool InDownloadMode() const;
  size_t PendingBills() const;
  Counters GetCounters() const;
  Statistics GetStatistics() const;
  std::vector<uint8_t> Firmware() const;
  // CRC-32/IEEE over the whole firmware memory (what command 0x51 answers).
  uint32_t FirmwareCrc32() const;
  const Config& GetConfig() const { return config_; }

 private:
  struct Scripted {
    int command;
    std::vector<uint8_t> bytes;
    bool raw;
    int times;
  };
  struct Pending {  // one answer on its way out
    std::vector<uint8_t> bytes;
    std::chrono::steady_clock::time_point first;
    bool started = false;
  };
  struct Chunk {
    std::chrono::steady_clock::time_point due;
    std::vector<uint8_t> bytes;
    std::shared_ptr<Pending> answer;
    bool last;  // last chunk of its answer
  };
  struct Event {
    bool sent;
    Frame frame;
  };

  void Serve();
  void CloseLine();
  void ClientsChanged(std::vector<Event>& events);
  void Record(const RequestReader::Result& r, std::chrono::steady_clock::time_point last,
              std::vector<Event>& events);
  void HandleRequest(const RequestReader::Result& r);
  void WriteDue(std::vector<Event>& events);
  static bool Matches(const Fault& f, const std::vector<uint8_t>& req);
  void Notify(std::vector<Event>& events);

  const Config config_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  Device device_;
  std::thread thread_;
  int master_ = -1;
  int slave_ = -1;
  int wake_ = -1;
  int inotify_ = -1;
  bool stop_ = false;
  bool running_ = false;
  bool dropped_ = false;
  bool silent_ = false;
  std::chrono::steady_clock::time_point restartUntil_{};  // silent until then after an update
  unsigned baud_ = 0;
  std::string path_;
  std::string error_;
  std::deque<Scripted> scripts_;
  std::vector<Fault> faults_;
  std::vector<int> faultHits_;
  std::deque<Frame> received_;
  std::deque<Frame> sent_;
  size_t receivedBase_ = 0;   // running number of received_.front()
  size_t receivedCount_ = 0;  // received since ClearReceived()
  size_t sentCount_ = 0;      // sent since ClearSent()
  std::deque<Chunk> out_;
  bool outBlocked_ = false;  // the last write met a full buffer
  std::chrono::steady_clock::time_point lastByte_{};
  Observer observer_;
  RequestReader reader_;
};

}  // namespace bvsim
