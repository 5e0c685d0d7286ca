// Intel HEX text for tests and benchmarks: records with a right checksum, and whole images of a
// known byte pattern.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelnet::test {

// One record ":LLAAAATT<data>CC" with its checksum, ended by eol.
inline std::string Record(std::uint8_t type, std::uint16_t address,
                          const std::vector<std::uint8_t>& data, std::string_view eol = "\r\n") {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string line = ":";
  line.reserve(11 + 2 * data.size() + eol.size());
  std::uint8_t sum = 0;
  auto put = [&](std::uint8_t b) {
    line += kDigits[b >> 4];
    line += kDigits[b & 0xF];
    sum = static_cast<std::uint8_t>(sum + b);
  };
  put(static_cast<std::uint8_t>(data.size()));
  put(static_cast<std::uint8_t>(address >> 8));
  put(static_cast<std::uint8_t>(address & 0xFF));
  put(type);
  for (std::uint8_t b : data) put(b);
  put(static_cast<std::uint8_t>(0x100 - sum));
  line += eol;
  return line;
}

// A data record of n bytes first, first + 1, ... at address.
inline std::string DataRecord(std::uint16_t address, unsigned n, std::uint8_t first = 0x10,
                              std::string_view eol = "\r\n") {
  std::vector<std::uint8_t> data;
  for (unsigned k = 0; k < n; ++k) data.push_back(static_cast<std::uint8_t>(first + k));
  return Record(0x00, address, data, eol);
}

// An extended linear address record: the upper 16 bits of the addresses that follow.
inline std::string LinearRecord(std::uint16_t upper, std::string_view eol = "\r\n") {
  return Record(0x04, 0, {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)},
                eol);
}

inline const std::string kEndOfFile = ":00000001FF\r\n";

// The byte HexImage places at an address.
inline std::uint8_t PatternByte(std::uint32_t address) {
  return static_cast<std::uint8_t>((address * 7) ^ (address >> 8) ^ (address >> 16));
}

// A whole image: records of 16 bytes covering [first, end) with the bytes of PatternByte, linear
// address records where the upper 16 bits change, and the end record; CR LF line ends.
inline std::string HexImage(std::uint32_t first, std::uint32_t end) {
  std::string text;
  text.reserve((end - first) / 16 * 45 + 64);
  std::uint32_t upper = 0xFFFFFFFF;
  std::vector<std::uint8_t> data;
  for (std::uint32_t a = first; a < end; a += 16) {
    if ((a >> 16) != upper) {
      upper = a >> 16;
      text += LinearRecord(static_cast<std::uint16_t>(upper));
    }
    data.clear();
    for (std::uint32_t i = a; i < a + 16 && i < end; ++i) data.push_back(PatternByte(i));
    text += Record(0x00, static_cast<std::uint16_t>(a & 0xFFFF), data);
  }
  return text + kEndOfFile;
}

}  // namespace zelnet::test
