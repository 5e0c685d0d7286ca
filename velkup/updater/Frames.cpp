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

void TStrayCollector::Add(uint8_t* buffer, size_t bufferSize, const uint8_t* data,
                          uint32_t dataSize) {
  const uint32_t n = dataSize & 0xFFFF;
  const size_t at = static_cast<size_t>(count_);
  if (at < bufferSize) std::memcpy(buffer + at, data, std::min<size_t>(n, bufferSize - at));
  count_ += static_cast<int32_t>(n);
  // The frame's length: its length byte once held; in the extended form the 16-bit length
  // behind it once held; otherwise the shortest answer with a sub-code.
  int32_t expected = 7;
  if (count_ >= 3 && buffer[2] != 0)
    expected = buffer[2];
  else if (count_ >= 7 && buffer[2] == 0)
    expected = buffer[5] + 256 * buffer[6];
  if (count_ >= expected) count_ = 0;
}

}  // namespace velkup
