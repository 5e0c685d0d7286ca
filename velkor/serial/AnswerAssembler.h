// Byte-by-byte assembly and classification of one answer frame, independent of any port.
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

// The length rule of a frame: the total length stands in byte 2, or, when byte 2 is 0, in two
// bytes high byte first: bytes 3-4 of an answer, bytes 5-6 of a request. Both give 0 while the
// bytes that carry the length are not all there.
size_t AnswerFrameLength(std::span<const uint8_t> answer);
size_t RequestFrameLength(std::span<const uint8_t> request);

// Collects the bytes of one answer into the caller's buffer from byte 0. The answer's length is
// known from its fifth byte on: byte 2, or when byte 2 is 0 the extended length in bytes 3 (high)
// and 4 (low). The assembler never writes past the buffer: an announced length the buffer cannot
// hold, or one that can never be reached (below 5 in the length byte, below 6 in the extended
// form), makes the frame malformed at once.
class AnswerAssembler {
 public:
  enum class Step { More, Complete, Malformed };

  explicit AnswerAssembler(std::span<uint8_t> buffer) : buffer_(buffer) {}

  Step Push(uint8_t byte);

  size_t Received() const { return count_; }
  // The announced total length; 0 until the fifth byte has arrived.
  size_t Expected() const { return expected_; }

 private:
  std::span<uint8_t> buffer_;
  size_t count_ = 0;
  size_t expected_ = 0;
};

// Classifies a complete answer of answer.size() bytes sent in reply to request `code`: the check
// code is tested first (kAnswerCrcError); then, for Request Statistics (0x60), an answer shorter
// than 10 bytes whose byte 4 is 0x31 is kAnswerBadStatistics; for every other request an answer
// code 0x30 in byte 3 is kAnswerInvalidCommand. Otherwise returns the length.
int ClassifyAnswer(std::span<const uint8_t> answer, uint8_t code);

}  // namespace velkor
