// A scripted peer at the far end of a real pseudo-terminal, for tests of the serial layers.
// The program under test opens SlavePath(); the peer reads request frames on the master side in a
// thread of its own and answers each with the next queued answer (or stays silent).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class PtyPeer {
 public:
  struct Chunk {
    int delayMs = 0;  // wait before writing these bytes
    std::vector<uint8_t> bytes;
  };

  PtyPeer();
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  // The speed the program has set on the line (its termios output speed), 0 when unknown.
  unsigned BaudRate() const;

  // The next request frame (other than an ACK, which is never answered) gets these chunks.
  void QueueAnswer(std::vector<Chunk> chunks);
  void QueueAnswer(std::vector<uint8_t> bytes) { QueueAnswer({Chunk{0, std::move(bytes)}}); }
  // The same answer delivered one byte at a time, gapMs apart.
  void QueueDrip(const std::vector<uint8_t>& bytes, int gapMs);
  // Answers a request for which nothing is queued (an empty result stays silent). Called on the
  // peer's own thread.
  using Responder = std::function<std::vector<uint8_t>(const std::vector<uint8_t>& request)>;
  void SetResponder(Responder responder);
  // Drops every queued answer that has not been sent.
  void ClearAnswers();

  // Every complete request frame received so far, in order.
  std::vector<std::vector<uint8_t>> Requests() const;
  // Every byte received so far, framed or not.
  std::vector<uint8_t> RawBytes() const;
  bool WaitForRequests(size_t count, int timeoutMs) const;

 private:
  void Run();
  void OnByte(uint8_t byte);

  int master_ = -1;
  int slaveKeeper_ = -1;
  std::string slavePath_;
  std::atomic<bool> stop_{false};
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::vector<Chunk>> answers_;
  Responder responder_;
  std::vector<std::vector<uint8_t>> requests_;
  std::vector<uint8_t> raw_;
  std::vector<uint8_t> pending_;
};

// Appends the ZELNET check code (CRC-16/KERMIT, low byte first) to a frame written without it.
std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame);

}  // namespace testsupport
