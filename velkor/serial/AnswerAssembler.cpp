#include "AnswerAssembler.h"

#include "Crc.h"

namespace velkor {

namespace {

size_t FrameLength(std::span<const uint8_t> frame, size_t extendedAt) {
  if (frame.size() < 3) return 0;
  if (frame[2] != 0) return frame[2];
  if (frame.size() < extendedAt + 2) return 0;
  return size_t{frame[extendedAt]} * 256 + frame[extendedAt + 1];
}

}  // namespace

size_t AnswerFrameLength(std::span<const uint8_t> answer) {
  return FrameLength(answer, 3);
}

size_t RequestFrameLength(std::span<const uint8_t> request) {
  return FrameLength(request, 5);
}

AnswerAssembler::Step AnswerAssembler::Push(uint8_t byte) {
  if (count_ >= buffer_.size()) return Step::Malformed;
  buffer_[count_] = byte;
  if (count_ == 4) {
    const bool extended = buffer_[2] == 0;
    expected_ = AnswerFrameLength(buffer_.first(5));
    const size_t shortest = extended ? 6 : 5;
    if (expected_ < shortest || expected_ > buffer_.size()) {
      ++count_;
      return Step::Malformed;
    }
  }
  ++count_;
  if (expected_ != 0 && count_ == expected_) return Step::Complete;
  if (count_ >= buffer_.size()) return Step::Malformed;
  return Step::More;
}

int ClassifyAnswer(std::span<const uint8_t> answer, uint8_t code) {
  const size_t length = answer.size();
  if (length < 5) return kAnswerCrcError;
  const uint16_t crc = CalcCrc(answer.data(), length);
  if (answer[length - 1] != (crc >> 8) || answer[length - 2] != (crc & 0xFF)) {
    return kAnswerCrcError;
  }
  if (code == kStatisticsRequestCode) {
    if (length < 10 && answer[4] == 0x31) return kAnswerBadStatistics;
  } else if (answer[3] == 0x30) {
    return kAnswerInvalidCommand;
  }
  return static_cast<int>(length);
}

}  // namespace velkor
