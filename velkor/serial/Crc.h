// ZELNET check code: CRC-16/KERMIT (polynomial 0x1021 reflected as 0x8408, initial value 0, no
// final XOR), stored in a frame low byte first. Computed bit by bit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velkor {

// Feeds one byte into the running check code and returns the updated code.
uint16_t CrcStep(uint8_t byte, uint16_t crc);

// Check code over bytes 0 .. length-3 of a frame of total length `length`: everything before the
// two check-code bytes. Reads nothing at or beyond length-2. A length below 2 gives 0.
uint16_t CalcCrc(const uint8_t* frame, size_t length);

}  // namespace velkor
