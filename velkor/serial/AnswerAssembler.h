// Byte-by-byte assembly and check of one answer frame, independent of any port. Where an answer
// ends is the framing layer's rule (LineFraming, supplied by the link); this layer only collects
// the bytes until the rule calls them complete and then checks the check code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace velkor {

// Results of reading an answer (the transaction results passed on to callers).
inline constexpr int kAnswerTimeOut = -1;
inline constexpr int kAnswerCrcError = -2;
inline constexpr int kAnswerBadStatistics = -3;
inline constexpr int kAnswerInvalidCommand = -4;

// The request whose refusal is told apart from other answers (Request Statistics).
inline constexpr uint8_t kStatisticsRequestCode = 0x60;

// What reading and writing frames needs to know of their layout.
class LineFraming {
 public:
  enum class Step { More, Complete, Malformed };

  virtual ~LineFraming() = default;
  // The state of an answer of which `received` has arrived, to be held in at most `capacity`
  // bytes: Complete at its announced length; Malformed once that length is known to be beyond
  // capacity or one no frame can have, or when capacity is full before it is known.
  virtual Step AnswerStep(std::span<const uint8_t> received, size_t capacity) const = 0;
  // The total length a request announces; 0 while the bytes that carry it are not all there.
  virtual size_t RequestLength(std::span<const uint8_t> request) const = 0;
};

// Collects the bytes of one answer into the caller's buffer from byte 0 and never writes past
// it: a byte that would not fit makes the frame malformed.
class AnswerAssembler {
 public:
  using Step = LineFraming::Step;

  AnswerAssembler(std::span<uint8_t> buffer, const LineFraming& framing)
      : buffer_(buffer), framing_(framing) {}

  Step Push(uint8_t byte);

  size_t Received() const { return count_; }

 private:
  std::span<uint8_t> buffer_;
  const LineFraming& framing_;
  size_t count_ = 0;
};

// Classifies a complete answer of answer.size() bytes sent in reply to request `code`: the check
// code is tested first (kAnswerCrcError); then, for Request Statistics (0x60), an answer shorter
// than 10 bytes whose byte 4 is 0x31 is kAnswerBadStatistics; for every other request an answer
// code 0x30 in byte 3 is kAnswerInvalidCommand. Otherwise returns the length.
int ClassifyAnswer(std::span<const uint8_t> answer, uint8_t code);

}  // namespace velkor
