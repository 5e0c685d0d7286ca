#include "WindowChoices.h"

#include <cstddef>

namespace velkor {

bool ParseBitEdits(const std::array<std::string_view, 3>& texts, std::array<uint8_t, 3>& bytes) {
  std::array<uint8_t, 3> parsed{};
  for (size_t b = 0; b < 3; ++b) {
    uint8_t value = 0;
    for (size_t c = 0; c < 8; ++c) {
      const char ch = c < texts[b].size() ? texts[b][c] : '\0';
      if (ch == '1') {
        value |= static_cast<uint8_t>(0x80 >> c);
      } else if (ch != '0') {
        return false;
      }
    }
    parsed[b] = value;
  }
  bytes = parsed;
  return true;
}

int BarcodeLength(int itemIndex) {
  return 2 * itemIndex + 6;
}

uint32_t BaudForIndex(int itemIndex) {
  return itemIndex == 0 ? 9600 : 19200;
}

}  // namespace velkor
