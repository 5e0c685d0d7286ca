#include "AnswerAssembler.h"

#include "Crc.h"

namespace velkor {

AnswerAssembler::Step AnswerAssembler::Push(uint8_t byte) {
  if (count_ >= buffer_.size()) return Step::Malformed;
  buffer_[count_++] = byte;
  return framing_.AnswerStep(buffer_.first(count_), buffer_.size());
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
