#include "StatDecode.h"

#include <algorithm>

namespace velkor {
namespace {

constexpr std::string_view kSampleText = " Sample -  ";
constexpr std::string_view kCurrentSampleText = "Current Sample -  ";

std::uint8_t ByteAt(std::span<const std::uint8_t> block, std::size_t offset) {
  return offset < block.size() ? block[offset] : 0;
}

// Windows-1252 characters 0x80-0x9F; 0 marks the five undefined codes.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void AppendUtf8(std::string& text, char16_t c) {
  if (c < 0x80) {
    text += static_cast<char>(c);
  } else if (c < 0x800) {
    text += static_cast<char>(0xC0 | (c >> 6));
    text += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    text += static_cast<char>(0xE0 | (c >> 12));
    text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Shows raw characters as one line of UTF-8: control characters become spaces.
std::string DisplayText(std::string_view raw) {
  std::string text;
  text.reserve(raw.size());
  for (const char ch : raw) {
    const auto b = static_cast<unsigned char>(ch);
    char16_t c = b;
    if (b < 0x20 || b == 0x7F) {
      c = u' ';
    } else if (b >= 0x80 && b < 0xA0) {
      c = kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : u' ';
    }
    AppendUtf8(text, c);
  }
  return text;
}

// The bytes of a text field up to its first zero byte.
std::string RawText(std::span<const std::uint8_t> block, std::size_t offset, std::size_t width) {
  std::string raw;
  for (std::size_t i = 0; i < width; ++i) {
    const std::uint8_t b = ByteAt(block, offset + i);
    if (b == 0) break;
    raw += static_cast<char>(b);
  }
  return raw;
}

std::uint32_t Counter(std::span<const std::uint8_t> block, std::size_t offset, int width) {
  return width == 1 ? ByteAt(block, offset) : ReadLe(block, offset, 2);
}

std::string Sample(unsigned number, std::uint32_t value) {
  return std::to_string(number) + std::string(kSampleText) + std::to_string(value);
}

// A counter of the 10000-bill records at the given record offset: the current sample (record 15),
// then samples 1 ... 15 (records 14 ... 0).
std::vector<TStatNode> Samples10000(std::span<const std::uint8_t> block, std::size_t recordOffset,
                                    int width) {
  auto value = [&](std::size_t record) {
    return Counter(block, kStatSample10000Offset + kStatSample10000Size * record + recordOffset,
                   width);
  };
  std::vector<TStatNode> nodes;
  nodes.reserve(kStatSample10000Records);
  nodes.push_back({std::string(kCurrentSampleText) + std::to_string(value(15)), {}});
  for (unsigned number = 1; number <= 15; ++number) {
    nodes.push_back({Sample(number, value(15 - number)), {}});
  }
  return nodes;
}

// Samples 1 ... 20 of twenty records (record k is sample 20 - k).
std::vector<TStatNode> Samples20(std::span<const std::uint8_t> block, std::size_t firstOffset,
                                 std::size_t recordSize, int width) {
  std::vector<TStatNode> nodes;
  nodes.reserve(20);
  for (unsigned number = 1; number <= 20; ++number) {
    nodes.push_back(
        {Sample(number, Counter(block, firstOffset + recordSize * (20 - number), width)), {}});
  }
  return nodes;
}

}  // namespace

std::uint32_t ReadLe(std::span<const std::uint8_t> answer, std::size_t offset, int width) {
  const std::size_t bytes = width == 2 ? 2 : 4;
  std::uint32_t value = 0;
  for (std::size_t i = bytes; i-- > 0;) {
    value = value << 8 | ByteAt(answer, offset + i);
  }
  return value;
}

bool IsStatisticsBlockValid(std::span<const std::uint8_t> block) {
  return block.size() > kStatTypeOffset && block[kStatTypeOffset] == kStatisticsType;
}

std::string StatText(std::span<const std::uint8_t> block, std::size_t offset, std::size_t width) {
  return DisplayText(RawText(block, offset, width));
}

std::string CurrencyName(std::span<const std::uint8_t> block) {
  std::string raw = RawText(block, kStatCurrencyOffset, kStatCurrencyWidth);
  const std::size_t cut = raw.find(". ");
  if (cut != std::string::npos) raw.resize(cut);
  return DisplayText(raw);
}

std::string DenominationValueText(std::uint8_t entryByte0, std::uint8_t powerByte) {
  const unsigned digit = entryByte0 & 0x0F;
  if (digit == 0) return "0";
  const int power = static_cast<std::int8_t>(powerByte);
  return std::to_string(digit) + std::string(power > 0 ? static_cast<std::size_t>(power) : 0, '0');
}

std::string DenominationLabel(std::span<const std::uint8_t> block, std::size_t d) {
  const std::size_t entry = kStatDenominationOffset + kStatDenominationSize * d;
  const std::uint8_t byte0 = ByteAt(block, entry);
  const std::string value = DenominationValueText(byte0, ByteAt(block, entry + 4));
  std::string label = value + " ";
  if (byte0 & 0x40) label += "new ";
  label += CurrencyName(block);
  // Control characters are spaces by now.
  label.erase(label.find_last_not_of(' ') + 1);
  const bool aboveOne = value.size() > 1 || value[0] > '1';
  if (aboveOne) label += "s";
  return label;
}

std::size_t DenominationCount(std::span<const std::uint8_t> block) {
  return std::min<std::size_t>(ByteAt(block, kStatDenominationCountOffset), kMaxDenominations);
}

TStatisticsTree DecodeStatistics(std::span<const std::uint8_t> block) {
  TStatisticsTree tree;
  const auto byte = [&](std::size_t offset) { return std::to_string(ByteAt(block, offset)); };
  tree.Header = {
      "Country Code -  " + StatText(block, kStatCountryOffset, kStatCountryWidth),
      "Total number of denominations -  " + byte(kStatDenominationCountOffset),
      "Type of statistics -  " + byte(kStatTypeOffset),
      "Date and time of last clearing : " + std::to_string(ReadLe(block, kStatDateOffset, 2)) +
          "/" + byte(12) + "/" + byte(13) + " " + byte(14) + ":" + byte(15) + ":" + byte(16),
      "Serial number: " + StatText(block, kStatSerialOffset, kStatSerialWidth),
  };

  const std::size_t n = DenominationCount(block);
  std::vector<std::string> labels;
  for (std::size_t d = 0; d < n; ++d) labels.push_back(DenominationLabel(block, d));

  // Samples based on 10000 inserted bills.
  auto& g10000 = tree.Groups[0];
  g10000.resize(kStatGroupCounters[0]);
  g10000[0] = Samples10000(block, 0, 2);
  for (std::size_t c = 1; c <= 4; ++c) {
    for (std::size_t d = 0; d < n; ++d) {
      g10000[c].push_back({labels[d], Samples10000(block, 2 + 40 * (c - 1) + 2 * d, 2)});
    }
  }
  g10000[5] = Samples10000(block, 162, 2);
  g10000[6] = Samples10000(block, 164, 2);
  for (std::size_t c = 7; c < kStatGroupCounters[0]; ++c) {
    g10000[c] = Samples10000(block, 166 + (c - 7), 1);
  }

  // Samples based on 500 inserted bills.
  auto& g500 = tree.Groups[1];
  g500.resize(kStatGroupCounters[1]);
  for (std::size_t d = 0; d < n; ++d) {
    g500[0].push_back(
        {labels[d], Samples20(block, kStatSample500Offset + 2 * d, kStatSample500Size, 2)});
    g500[1].push_back(
        {labels[d], Samples20(block, kStatSample500Offset + 40 + d, kStatSample500Size, 1)});
  }
  for (std::size_t c = 2; c < kStatGroupCounters[1]; ++c) {
    g500[c] = Samples20(block, kStatSample500Offset + 60 + (c - 2), kStatSample500Size, 1);
  }

  // Samples based on 50 inserted bills.
  tree.Groups[2].resize(kStatGroupCounters[2]);
  tree.Groups[2][0] = Samples20(block, kStatSample50Offset, 1, 1);
  return tree;
}

}  // namespace velkor
