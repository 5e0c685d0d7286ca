// What the window's choices mean as request bytes: the bit-mask edits, the barcode-length box and
// the baud-rate box. Plain logic; the window reads its controls and hands their texts and item
// indexes in.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace velkor {

// Three 8-character "0"/"1" texts into three bytes, first character bit 7. False when any text has
// fewer than 8 characters or a character other than '0' and '1' among its first 8.
bool ParseBitEdits(const std::array<std::string_view, 3>& texts, std::array<uint8_t, 3>& bytes);

// Number of barcode characters for the item index of the barcode-length box (4 with none chosen).
int BarcodeLength(int itemIndex);

// Baud rate for the item index of the baud-rate box: 9600 for item 0, 19200 otherwise.
uint32_t BaudForIndex(int itemIndex);

}  // namespace velkor
