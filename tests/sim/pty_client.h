// A plain POSIX client of the simulator's pty for its tests: opens the slave in raw mode,
// writes frames and reads answer frames under a deadline.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bvsim_test {

class PtyClient {
 public:
  explicit PtyClient(const std::string& path);
  ~PtyClient();
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  bool Ok() const { return fd_ >= 0; }
  void Close();
  bool Write(const std::vector<uint8_t>& bytes);
  // Reads one answer frame (length from byte 2, or from bytes 3-4 when byte 2 is 0); nullopt
  // when it is not complete within the timeout. Bytes that came are left in Partial().
  std::optional<std::vector<uint8_t>> ReadFrame(
      std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
  // Reads whatever comes until the line has been quiet for `quiet` (or `limit` has passed).
  std::vector<uint8_t> ReadFor(std::chrono::milliseconds quiet,
                               std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
  // Sends a request and reads its answer.
  std::optional<std::vector<uint8_t>> Exchange(
      const std::vector<uint8_t>& request,
      std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
  // Hang-up seen by the last read (the simulator closed the line).
  bool HungUp() const { return hungUp_; }
  const std::vector<uint8_t>& Partial() const { return partial_; }

 private:
  int ReadSome(uint8_t* buf, size_t n, int timeoutMs);
  int fd_ = -1;
  bool hungUp_ = false;
  std::vector<uint8_t> partial_;
};

}  // namespace bvsim_test
