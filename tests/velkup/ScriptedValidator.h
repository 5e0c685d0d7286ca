// A small validator for tests of the update sequence: it reads ZELNET request frames from the
// master side of a pty, records them, and answers each with the frame that a test's responder
// returns (or stays silent). It runs on a thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "PtyPeer.h"

using Bytes = std::vector<uint8_t>;

class ScriptedValidator {
 public:
  // Given a request frame, the answer's data bytes (the frame is built around them with the
  // request's address), or nothing for silence.
  using Responder = std::function<std::optional<Bytes>(const Bytes& request)>;

  explicit ScriptedValidator(Responder responder);
  ~ScriptedValidator();

  const std::string& SlavePath() const { return pty_.SlavePath(); }
  // Every request frame received so far, in order.
  std::vector<Bytes> Frames();
  // Writes bytes nobody asked for.
  void Inject(const Bytes& bytes) { pty_.Write(bytes); }

  // A frame with the given address around data, with its check code.
  static Bytes Frame(uint8_t address, const Bytes& data);

 private:
  void Loop();

  PtyPeer pty_;
  Responder responder_;
  std::mutex mutex_;
  std::vector<Bytes> frames_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The request's command byte, and its sub-command for Download frames.
inline uint8_t Command(const Bytes& f) {
  return f.size() > 3 ? f[3] : 0xFF;
}
inline bool IsPoll(const Bytes& f) {
  return Command(f) == 0x33;
}
inline bool IsBlock(const Bytes& f) {
  return f.size() == 268 && f[3] == 0x50 && f[4] == 0x02;
}
inline uint32_t BlockAddress(const Bytes& f) {
  return f[7] | f[8] << 8 | f[9] << 16;
}
