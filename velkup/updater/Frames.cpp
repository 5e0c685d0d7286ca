#include "Frames.h"

#include <algorithm>
#include <cstring>

namespace velkup {

uint16_t CalcCrc16(const uint8_t* frame, size_t length) {
  if (length == 0) length = size_t{frame[5]} * 256 + frame[6];
  uint16_t crc = 0;
  for (size_t i = 0; i + 2 < length; ++i) {
    crc ^= frame[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return crc;
}

size_t BuildFrame(uint8_t address, const uint8_t* payload, size_t n, uint8_t* out) {
  const size_t total = n + 5;
  out[0] = kSync;
  out[1] = address;
  out[2] = total <= 0xFF ? static_cast<uint8_t>(total) : 0;
  std::memmove(out + 3, payload, n);
  const uint16_t crc = CalcCrc16(out, total);
  out[total - 2] = static_cast<uint8_t>(crc & 0xFF);
  out[total - 1] = static_cast<uint8_t>(crc >> 8);
  return total;
}

void BuildWriteBlockPayload(uint32_t address, const uint8_t* memory, uint8_t* payload) {
  constexpr size_t kFrameLength = kWriteBlockPayloadSize + 5;
  payload[0] = kCmdDownload;
  payload[1] = kDownloadWriteBlock;
  payload[2] = static_cast<uint8_t>(kFrameLength >> 8);
  payload[3] = static_cast<uint8_t>(kFrameLength & 0xFF);
  payload[4] = static_cast<uint8_t>(address & 0xFF);
  payload[5] = static_cast<uint8_t>((address >> 8) & 0xFF);
  payload[6] = static_cast<uint8_t>((address >> 16) & 0xFF);
  std::memcpy(payload + 7, memory + address, kBlockSize);
}

size_t AnswerLength(const uint8_t* frame, size_t held) {
  if (held < 3) return 0;
  if (frame[2] != 0) return std::max<size_t>(frame[2], 3);
  if (held < 5) return 0;
  return std::max<size_t>(size_t{frame[3]} << 8 | frame[4], 5);
}

size_t ReadAnswerFrame(const TReadBytes& read, uint8_t* buffer, size_t size) {
  if (size > 3) buffer[3] = 0;
  size_t got = 0;
  // The length is known after 3 bytes, or after 5 in the extended form.
  for (size_t known = 3; got < size;) {
    const size_t length = AnswerLength(buffer, got);
    const size_t want = std::min(length ? length : known, size);
    if (got >= want) break;
    const uint32_t n = read(buffer + got, static_cast<uint32_t>(want - got));
    got += std::min<size_t>(n, want - got);
    if (got < want) break;  // the line fell silent
    known = 5;
  }
  return got;
}

void TStrayCollector::Add(uint8_t* buffer, size_t bufferSize, const uint8_t* data,
                          uint32_t dataSize) {
  const uint32_t n = dataSize & 0xFFFF;
  const size_t at = static_cast<size_t>(count_);
  if (at < bufferSize) std::memcpy(buffer + at, data, std::min<size_t>(n, bufferSize - at));
  count_ += static_cast<int32_t>(n);
  const size_t length = AnswerLength(buffer, std::min(static_cast<size_t>(count_), bufferSize));
  if (length != 0 && static_cast<size_t>(count_) >= length) count_ = 0;
}

}  // namespace velkup
