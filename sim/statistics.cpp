#include "statistics.h"

#include "frame.h"

namespace bvsim {

namespace {

void Put16(std::vector<uint8_t>& f, size_t off, uint16_t v) {
  f[off] = v & 0xFF;
  f[off + 1] = v >> 8;
}

void PutText(std::vector<uint8_t>& f, size_t off, const std::string& s, size_t width) {
  for (size_t i = 0; i < width && i < s.size(); ++i) f[off + i] = uint8_t(s[i]);
}

}  // namespace

std::vector<uint8_t> EncodeStatisticsFrame(const Statistics& s, uint8_t address) {
  // Offsets count from the frame's first byte; the check code is appended at the end.
  std::vector<uint8_t> f(kStatisticsFrameSize - 2, 0);
  f[0] = kSync;
  f[1] = address;
  f[2] = 0;
  f[3] = kStatisticsFrameSize >> 8;
  f[4] = kStatisticsFrameSize & 0xFF;
  PutText(f, 5, s.country, 3);
  f[8] = s.denominations;
  f[9] = s.type;
  Put16(f, 10, s.year);
  f[12] = s.month;
  f[13] = s.day;
  f[14] = s.hour;
  f[15] = s.minute;
  f[16] = s.second;
  PutText(f, 18, s.serial, 12);
  for (size_t r = 0; r < s.samples10000.size(); ++r) {
    const Sample10000& x = s.samples10000[r];
    const size_t b = 37 + 179 * r;
    Put16(f, b, x.inserted);
    for (int d = 0; d < kStatDenominations; ++d) {
      Put16(f, b + 2 + 2 * d, x.accepted[d]);
      Put16(f, b + 42 + 2 * d, x.rejectedOptical[d]);
      Put16(f, b + 82 + 2 * d, x.rejectedMagnetic[d]);
      Put16(f, b + 122 + 2 * d, x.rejectedCapacitance[d]);
    }
    Put16(f, b + 162, x.unrecognized);
    Put16(f, b + 164, x.rejectedLength);
    const uint8_t bytes[] = {
        x.magneticFailures, x.opticalFailures,     x.transportFailures, x.stackingFailures,
        x.aligningFailures, x.jamsCassette,        x.jamsEntrance,      x.jamsEntranceAligning,
        x.jamsAligning,     x.jamsAligningOptical, x.jamsOptical,       x.jamsOpticalExit,
        x.jamsExit};
    for (size_t i = 0; i < sizeof bytes; ++i) f[b + 166 + i] = bytes[i];
  }
  for (size_t k = 0; k < s.samples500.size(); ++k) {
    const Sample500& x = s.samples500[k];
    const size_t b = 2901 + 66 * k;
    for (int d = 0; d < kStatDenominations; ++d) {
      Put16(f, b + 2 * d, x.accepted[d]);
      f[b + 40 + d] = x.rejectedVerification[d];
    }
    f[b + 60] = x.rejectedOptical;
    f[b + 61] = x.rejectedMagnetic;
    f[b + 62] = x.rejectedCapacitance;
    f[b + 63] = x.jamsBezel;
    f[b + 64] = x.jamsTransport;
    f[b + 65] = x.jamsTotal;
  }
  for (size_t k = 0; k < s.samples50.size(); ++k) f[4221 + k] = s.samples50[k];
  for (size_t d = 0; d < s.denominationTable.size(); ++d)
    for (size_t i = 0; i < 5; ++i) f[4241 + 5 * d + i] = s.denominationTable[d][i];
  PutText(f, 4341, s.currencyName, 20);
  AppendCheckCode(f);
  return f;
}

}  // namespace bvsim
