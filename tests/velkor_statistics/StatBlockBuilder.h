// A statistics answer built field by field, every counter holding a value that tells where it
// was read from.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "StatDecode.h"

namespace velkor::test {

// Value of the 16-bit counter at record offset off of 10000-bill record r.
inline unsigned Value10000(unsigned r, unsigned off) {
  return (r + 1) * 1000 + off;
}
// Value of the one-byte counter at record offset off (166 ... 178) of 10000-bill record r.
inline unsigned Byte10000(unsigned r, unsigned off) {
  return r * 13 + (off - 166);
}
// Value of the 16-bit counter of denomination d in 500-bill record k.
inline unsigned Value500(unsigned k, unsigned d) {
  return 40000 + k * 100 + d;
}
// Value of the one-byte counter at record offset off (40 ... 65) of 500-bill record k.
inline unsigned Byte500(unsigned k, unsigned off) {
  return (k * 7 + off) & 0xFF;
}
// Value of 50-bill byte k.
inline unsigned Byte50(unsigned k) {
  return 200 + k;
}

class BlockBuilder {
 public:
  // A good block: frame start, type 5, every counter filled, no denominations yet.
  BlockBuilder() : bytes_(velkor::kStatisticsAnswerSize, 0) {
    Put8(0, 0x02);
    Put8(1, 0x03);
    Put8(2, 0x00);
    Put8(3, 0x11);
    Put8(4, 0x0B);
    Put8(velkor::kStatTypeOffset, velkor::kStatisticsType);
    for (unsigned r = 0; r < 16; ++r) {
      const std::size_t base = 37 + 179 * r;
      Put16(base, Value10000(r, 0));
      for (unsigned off = 2; off < 162; off += 2) Put16(base + off, Value10000(r, off));
      Put16(base + 162, Value10000(r, 162));
      Put16(base + 164, Value10000(r, 164));
      for (unsigned off = 166; off <= 178; ++off) Put8(base + off, Byte10000(r, off));
    }
    for (unsigned k = 0; k < 20; ++k) {
      const std::size_t base = 2901 + 66 * k;
      for (unsigned d = 0; d < 20; ++d) Put16(base + 2 * d, Value500(k, d));
      for (unsigned off = 40; off <= 65; ++off) Put8(base + off, Byte500(k, off));
      Put8(4221 + k, Byte50(k));
    }
  }

  BlockBuilder& Put8(std::size_t offset, unsigned value) {
    bytes_[offset] = static_cast<std::uint8_t>(value);
    return *this;
  }
  BlockBuilder& Put16(std::size_t offset, unsigned value) {
    Put8(offset, value & 0xFF);
    return Put8(offset + 1, value >> 8);
  }
  // Writes the characters of text (no terminating zero).
  BlockBuilder& Text(std::size_t offset, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
      Put8(offset + i, static_cast<unsigned char>(text[i]));
    return *this;
  }
  BlockBuilder& Denomination(std::size_t d, std::uint8_t byte0, std::uint8_t power) {
    Put8(velkor::kStatDenominationOffset + 5 * d, byte0);
    return Put8(velkor::kStatDenominationOffset + 5 * d + 4, power);
  }

  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Country USA, N = 3 (1 Dollar, 100 new Dollars, 50 Dollars), cleared 2002/3/7 9:5:0.
inline BlockBuilder DollarBlock() {
  BlockBuilder block;
  block.Text(5, "USA")
      .Put8(8, 3)
      .Put16(10, 2002)
      .Put8(12, 3)
      .Put8(13, 7)
      .Put8(14, 9)
      .Put8(15, 5)
      .Put8(16, 0)
      .Text(18, "BV0123456789")
      .Text(4341, "Dollar. USA")  // cut at ". "
      .Denomination(0, 0x01, 0)
      .Denomination(1, 0x41, 2)
      .Denomination(2, 0x05, 1)
      .Denomination(3, 0x07, 3);  // beyond N: never shown
  return block;
}

}  // namespace velkor::test
