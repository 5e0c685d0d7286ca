// Builds Intel HEX text for tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// One record ":LLAAAATT<data>CC" with a correct checksum, without a line end.
inline std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address & 0xFF), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
  bytes.push_back(static_cast<uint8_t>(0x100 - sum));
  std::string line = ":";
  char hex[3];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line;
}

inline std::string HexData(uint16_t address, const std::vector<uint8_t>& data) {
  return HexRecord(0, address, data);
}

inline std::string HexLinear(uint16_t upper) {
  return HexRecord(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}

// A whole image: records of 16 bytes covering [first, end) with the byte pattern of
// PatternByte, linear address records where the upper 16 bits change, and the end record.
inline uint8_t PatternByte(uint32_t address) {
  return static_cast<uint8_t>((address * 7) ^ (address >> 8) ^ (address >> 16));
}

inline std::string HexImage(uint32_t first, uint32_t end) {
  std::string text;
  uint32_t upper = 0xFFFFFFFF;
  for (uint32_t a = first; a < end; a += 16) {
    if ((a >> 16) != upper) {
      upper = a >> 16;
      text += HexLinear(static_cast<uint16_t>(upper)) + "\r\n";
    }
    std::vector<uint8_t> data;
    for (uint32_t i = a; i < a + 16 && i < end; ++i) data.push_back(PatternByte(i));
    text += HexData(static_cast<uint16_t>(a & 0xFFFF), data) + "\r\n";
  }
  return text + ":00000001FF\r\n";
}
