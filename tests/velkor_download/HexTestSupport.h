// Helpers of the HEX file tests: records written by hand with a right checksum, and one call
// that runs both passes the way the download does.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HexFile.h"

namespace hextest {

// One record line with its checksum, ended by eol.
inline std::string Record(std::uint8_t type, std::uint16_t address,
                          const std::vector<std::uint8_t>& data, std::string_view eol = "\r\n") {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string line = ":";
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

inline const std::string kEndOfFile = ":00000001FF\r\n";

struct Loaded {
  bool checked = false;
  std::string checkError;
  std::optional<velkor::HexLoadResult> loaded;  // set when the first pass passed
  std::string loadError;
  std::unique_ptr<velkor::FirmwareImageBytes> image =
      std::make_unique<velkor::FirmwareImageBytes>();
  velkor::HexLoadState state;

  bool Ok() const { return checked && loaded == velkor::HexLoadResult::Ok; }
  std::uint8_t At(std::size_t offset) const { return (*image)[offset]; }
  // Image offsets that do not hold 0xFF.
  std::size_t Written() const {
    std::size_t n = 0;
    for (std::uint8_t b : *image) n += b != 0xFF;
    return n;
  }
};

// The first pass, then (when it passes) the second, as the download runs them.
inline Loaded Load(std::string_view contents) {
  Loaded result;
  velkor::TNoProgress progress;
  result.checked = velkor::CheckHexFile(contents, progress, &result.checkError);
  if (result.checked) {
    result.loaded =
        velkor::LoadHexImage(contents, *result.image, result.state, progress, &result.loadError);
  }
  return result;
}

}  // namespace hextest
