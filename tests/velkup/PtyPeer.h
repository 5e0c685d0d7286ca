// A pseudo-terminal pair for tests: the test plays the far end of the line on the master side
// while the code under test opens the slave path. A slave descriptor is held open as well, so
// the line stays up (no hang-up) while the code under test closes and reopens the port.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

class PtyPeer {
 public:
  PtyPeer();
  ~PtyPeer();
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int SlaveFd() const { return slaveFd_; }

  void Write(const std::vector<uint8_t>& bytes);
  // Writes the bytes one at a time with the given gap, on a thread of its own, starting after
  // startDelay. Join() waits for it.
  void WriteSpaced(std::vector<uint8_t> bytes, std::chrono::milliseconds startDelay,
                   std::chrono::milliseconds gap);
  void Join();
  // Reads until n bytes have arrived or nothing arrives for quietMs.
  std::vector<uint8_t> Read(size_t n, int quietMs = 2000);
  // Everything that arrives until the line has been quiet for quietMs.
  std::vector<uint8_t> Drain(int quietMs = 100);

 private:
  int masterFd_ = -1;
  int slaveFd_ = -1;
  std::string slavePath_;
  std::thread writer_;
};
