#include "Crc.h"

namespace velkor {

uint16_t CrcStep(uint8_t byte, uint16_t crc) {
  crc ^= byte;
  for (int bit = 0; bit < 8; ++bit) {
    if (crc & 1u)
      crc = static_cast<uint16_t>((crc >> 1) ^ 0x8408u);
    else
      crc = static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

uint16_t CalcCrc(const uint8_t* frame, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i + 2 < length; ++i) crc = CrcStep(frame[i], crc);
  return crc;
}

}  // namespace velkor
