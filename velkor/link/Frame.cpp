#include "Frame.h"

#include <algorithm>

#include "Crc.h"
#include "HexText.h"

namespace velkor {

namespace {

size_t FrameLength(std::span<const uint8_t> frame, size_t extendedAt) {
  if (frame.size() < 3) return 0;
  if (frame[2] != 0) return frame[2];
  if (frame.size() < extendedAt + 2) return 0;
  return size_t{frame[extendedAt]} * 256 + frame[extendedAt + 1];
}

// The answer's length is known from its fifth byte on.
constexpr size_t kLengthKnownAt = 5;

class Framing final : public LineFraming {
 public:
  Step AnswerStep(std::span<const uint8_t> received, size_t capacity) const override {
    if (received.size() < kLengthKnownAt) {
      return received.size() >= capacity ? Step::Malformed : Step::More;
    }
    const size_t expected = AnswerFrameLength(received);
    const size_t shortest = received[2] == 0 ? 6 : 5;
    if (expected < shortest || expected > capacity) return Step::Malformed;
    return received.size() >= expected ? Step::Complete : Step::More;
  }
  size_t RequestLength(std::span<const uint8_t> request) const override {
    return RequestFrameLength(request);
  }
};

}  // namespace

size_t AnswerFrameLength(std::span<const uint8_t> answer) {
  return FrameLength(answer, 3);
}

size_t RequestFrameLength(std::span<const uint8_t> request) {
  return FrameLength(request, 5);
}

const LineFraming& ZelnetFraming() {
  static const Framing framing;
  return framing;
}

size_t CommandLength(uint8_t code) {
  switch (code) {
    case kCmdAck:
    case kCmdReset:
    case kCmdGetStatus:
    case kCmdPoll:
    case kCmdStack:
    case kCmdReturn:
    case kCmdIdentification:
    case kCmdHold:
    case kCmdExtractBarcode:
    case kCmdGetBillTable:
    case kCmdDownload:
    case kCmdCrc32:
    case kCmdRequestStatistics:
      return 6;
    case kCmdSetSecurity:  // 3 bytes of security bits
      return 9;
    case kCmdEnableBillTypes:  // 3 enable bytes, 3 escrow bytes
      return 12;
    case kCmdSetupBarcode:  // 0x01, number of digits
      return 8;
    default:
      return 0;
  }
}

size_t SealRequest(std::span<uint8_t> frame, uint8_t code, size_t length, bool extended) {
  const size_t shortest = extended ? kShortestFrame + 3 : kShortestFrame;
  if (length < shortest || length > (extended ? 0xFFFFu : 0xFFu) || frame.size() < length) {
    return 0;
  }
  frame[0] = kFrameSync;
  frame[1] = kValidatorAddress;
  frame[2] = extended ? 0 : static_cast<uint8_t>(length);
  frame[3] = code;
  if (extended) {
    frame[5] = static_cast<uint8_t>(length >> 8);
    frame[6] = static_cast<uint8_t>(length & 0xFF);
  }
  const uint16_t crc = CalcCrc(frame.data(), length);
  frame[length - 2] = static_cast<uint8_t>(crc & 0xFF);
  frame[length - 1] = static_cast<uint8_t>(crc >> 8);
  return length;
}

size_t BuildFrame(uint8_t code, std::span<uint8_t> frame) {
  const size_t length = CommandLength(code);
  return SealRequest(frame, code, length == 0 ? kShortestFrame : length);
}

std::string TraceLine(std::string_view prefix, std::span<const uint8_t> buffer) {
  std::string line(prefix);
  if (buffer.size() < 3) return line;
  const size_t count = std::min<size_t>(buffer[2], buffer.size());
  line.reserve(line.size() + count * 4);
  for (size_t i = 0; i < count; ++i) {
    AppendHex(line, buffer[i], 2);
    line += ", ";
  }
  return line;
}

}  // namespace velkor
