// The validator's statistics block (answer to Request Statistics 0x60): its fields, their
// encoding into the 4,363-byte extended answer frame, and a believable default history.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace bvsim {

constexpr int kStatDenominations = 20;
// Size of the whole answer frame.
constexpr size_t kStatisticsFrameSize = 4363;
constexpr uint8_t kStatisticsType = 5;

// Counters over 10,000 inserted bills (179 bytes on the line).
struct Sample10000 {
  uint16_t inserted = 0;
  std::array<uint16_t, kStatDenominations> accepted{};
  std::array<uint16_t, kStatDenominations> rejectedOptical{};
  std::array<uint16_t, kStatDenominations> rejectedMagnetic{};
  std::array<uint16_t, kStatDenominations> rejectedCapacitance{};
  uint16_t unrecognized = 0;
  uint16_t rejectedLength = 0;
  uint8_t magneticFailures = 0;
  uint8_t opticalFailures = 0;
  uint8_t transportFailures = 0;
  uint8_t stackingFailures = 0;
  uint8_t aligningFailures = 0;
  uint8_t jamsCassette = 0;
  uint8_t jamsEntrance = 0;
  uint8_t jamsEntranceAligning = 0;
  uint8_t jamsAligning = 0;
  uint8_t jamsAligningOptical = 0;
  uint8_t jamsOptical = 0;
  uint8_t jamsOpticalExit = 0;
  uint8_t jamsExit = 0;
};

// Counters over 500 inserted bills (66 bytes on the line).
struct Sample500 {
  std::array<uint16_t, kStatDenominations> accepted{};
  std::array<uint8_t, kStatDenominations> rejectedVerification{};
  uint8_t rejectedOptical = 0;
  uint8_t rejectedMagnetic = 0;
  uint8_t rejectedCapacitance = 0;
  uint8_t jamsBezel = 0;
  uint8_t jamsTransport = 0;
  uint8_t jamsTotal = 0;
};

struct Statistics {
  std::string country = "USA";  // 3 characters at most
  uint8_t denominations = 0;    // N, 0-20
  uint8_t type = kStatisticsType;
  uint16_t year = 2002;  // date and time of the last clearing
  uint8_t month = 3, day = 7, hour = 9, minute = 5, second = 0;
  std::string serial;  // 12 characters at most
  // [0..14] finished samples, [15] the current one, which the simulator counts into.
  std::array<Sample10000, 16> samples10000{};
  // [19] is the sample the simulator counts into.
  std::array<Sample500, 20> samples500{};
  std::array<uint8_t, 20> samples50{};  // jams per 50 bills; [19] is counted into
  // Per denomination: byte 0 the leading digit (bits 0-3) and "new" flag (0x40), bytes 1-3 the
  // country code, byte 4 the power of ten (signed).
  std::array<std::array<uint8_t, 5>, kStatDenominations> denominationTable{};
  std::string currencyName = "Dollar";  // 20 characters at most
};

// The whole answer frame (4,363 bytes, extended length 0x11 0x0B) for the given address.
std::vector<uint8_t> EncodeStatisticsFrame(const Statistics& s, uint8_t address);

// Saturating increments, as a counter of the given width would stop at its top.
inline void Bump(uint16_t& c) {
  if (c != 0xFFFF) ++c;
}
inline void Bump(uint8_t& c) {
  if (c != 0xFF) ++c;
}

}  // namespace bvsim
