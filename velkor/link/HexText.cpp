#include "HexText.h"

namespace velkor {

void AppendHex(std::string& text, unsigned value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
    text += kDigits[(value >> shift) & 0xF];
}

}  // namespace velkor
