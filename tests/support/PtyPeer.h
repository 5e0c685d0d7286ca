// The far end of a real pseudo-terminal, played by a test.
//
// PtyPeer() makes a new pseudo-terminal and plays the device on its master side; the program
// under test opens SlavePath(). The peer holds a slave descriptor open in raw mode, so the line
// neither echoes nor hangs up while the program closes and reopens its port. A thread of the peer
// reads everything that arrives: it answers each request frame (other than an ACK) with the next
// queued answer or the responder's, keeps every request and every byte, and hands the bytes to
// the reads below.
//
// PtyPeer(path) opens the slave of a pseudo-terminal someone else made (the simulator's line), in
// raw mode, the way a program would. It has no thread and answers nothing: the reads below go
// straight to the line.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zelnet::test {

using Bytes = std::vector<uint8_t>;

class PtyPeer {
 public:
  struct Chunk {
    int delayMs = 0;  // wait before writing these bytes
    Bytes bytes;
  };

  PtyPeer();
  explicit PtyPeer(const std::string& slavePath);
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  // The slave descriptor the peer holds (its own line for PtyPeer(path)).
  int SlaveFd() const { return slaveFd_; }
  // False when PtyPeer(path) could not open the path.
  bool Ok() const { return lineFd_ >= 0; }
  // The speed the program has set on the line (its termios output speed), 0 when unknown.
  unsigned BaudRate() const;

  // Scripted answers (a pseudo-terminal of the peer's own only).
  // The next request frame (other than an ACK, which is never answered) gets these chunks.
  void QueueAnswer(std::vector<Chunk> chunks);
  void QueueAnswer(Bytes bytes) { QueueAnswer({Chunk{0, std::move(bytes)}}); }
  // The same answer delivered one byte at a time, gapMs apart.
  void QueueDrip(const Bytes& bytes, int gapMs);
  // Answers a request for which nothing is queued (an empty result stays silent). Called on the
  // peer's own thread.
  using Responder = std::function<Bytes(const Bytes& request)>;
  void SetResponder(Responder responder);
  // Drops every queued answer that has not been sent.
  void ClearAnswers();
  // Every complete request frame received so far, in order.
  std::vector<Bytes> Requests() const;
  // Every byte received so far, framed or not.
  Bytes RawBytes() const;
  bool WaitForRequests(size_t count, int timeoutMs) const;

  // The line itself.
  bool Write(const Bytes& bytes);
  // Writes the bytes one at a time with the given gap, on a thread of its own, starting after
  // startDelay. Join() waits for it.
  void WriteSpaced(Bytes bytes, std::chrono::milliseconds startDelay,
                   std::chrono::milliseconds gap);
  void Join();
  // Reads until n bytes have arrived or nothing arrives for `quiet`.
  Bytes Read(size_t n, std::chrono::milliseconds quiet = std::chrono::milliseconds(2000));
  // Whatever comes until the line has been quiet for `quiet` (or `limit` has passed).
  Bytes ReadFor(std::chrono::milliseconds quiet,
                std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
  // One answer frame (length from byte 2, or from bytes 3-4 when byte 2 is 0); nullopt when it is
  // not complete within the timeout.
  std::optional<Bytes> ReadFrame(
      std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
  // Sends a request and reads its answer frame.
  std::optional<Bytes> Exchange(
      const Bytes& request, std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

  // Stops (true) or resumes (false) taking bytes off the line, so that the program's writes fill
  // the pty's buffer.
  void HoldReading(bool hold) { hold_ = hold; }

  // Closes this end of the line: the program's port sees a hang-up. Reads and writes fail after.
  void Close();
  // The other end closed the line (seen by a read of PtyPeer(path)).
  bool HungUp() const { return hungUp_; }

 private:
  void Run();
  void OnByte(uint8_t byte);
  // Up to n bytes within timeoutMs: their count, 0 when none came, -1 on a hang-up.
  int ReadSome(uint8_t* buf, size_t n, int timeoutMs);

  int lineFd_ = -1;   // the peer's end: the master, or the opened slave of PtyPeer(path)
  int slaveFd_ = -1;  // the held slave, or the opened slave of PtyPeer(path)
  bool ownPty_ = false;
  std::string slavePath_;
  std::atomic<bool> hungUp_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> hold_{false};
  std::thread reader_;
  std::thread writer_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::deque<std::vector<Chunk>> answers_;
  Responder responder_;
  std::vector<Bytes> requests_;
  Bytes raw_;
  Bytes pending_;
  std::deque<uint8_t> unread_;  // received by the thread, not yet taken by a read
};

// Appends the ZELNET check code (CRC-16/KERMIT, low byte first) to a frame written without it.
Bytes WithCrc(Bytes frame);

}  // namespace zelnet::test
