#include "StatDecode.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace velkor {
namespace {

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

// The longest text of a sample: "Current Sample -  " and five digits.
constexpr std::size_t kLongestSample = 23;

// Builds the nodes of a tree and their texts straight into the tree's two buffers, sized once at
// the start (the node count follows from the number of denominations, the texts have a bound), so
// that a node's children and a counter's nodes lie side by side and no view ever moves.
class TreeBuilder {
 public:
  // Nodes `count` from `first`, in order.
  struct Range {
    std::size_t first = 0;
    std::size_t count = 0;
  };

  TreeBuilder(std::span<const std::uint8_t> block, const std::vector<std::string>& labels,
              std::vector<TStatNode>& nodes, std::vector<char>& texts)
      : block_(block), nodes_(nodes), texts_(texts) {
    const std::size_t n = labels.size();
    std::size_t labelChars = 0;
    for (const std::string& label : labels) labelChars += label.size();
    // 256 + 68 n nodes for 10000 bills, 120 + 42 n for 500 and 20 for 50; 6 n of them labels.
    const std::size_t count = 396 + 110 * n;
    nodes_.resize(count);  // every node's text and children are set below
    texts_.resize((count - 6 * n) * kLongestSample + 6 * labelChars);
  }

  // A counter of the 10000-bill records at the given record offset: the current sample (record
  // 15), then samples 1 ... 15 (records 14 ... 0).
  Range Samples10000(std::size_t recordOffset, int width) {
    const Range range = Add(kStatSample10000Records);
    auto value = [&](std::size_t record) {
      return Counter(kStatSample10000Offset + kStatSample10000Size * record + recordOffset, width);
    };
    Text(range.first, [&] {
      Put(kCurrentSampleText);
      PutNumber(value(15));
    });
    for (unsigned number = 1; number <= 15; ++number) {
      Text(range.first + number, [&] { PutSample(number, value(15 - number)); });
    }
    return range;
  }

  // Samples 1 ... 20 of twenty records (record k is sample 20 - k).
  Range Samples20(std::size_t firstOffset, std::size_t recordSize, int width) {
    const Range range = Add(20);
    for (unsigned number = 1; number <= 20; ++number) {
      Text(range.first + number - 1,
           [&] { PutSample(number, Counter(firstOffset + recordSize * (20 - number), width)); });
    }
    return range;
  }

  // One node per label, each with the samples `samples(d)` makes for its denomination d.
  template <class Samples>
  Range Labelled(const std::vector<std::string>& labels, Samples samples) {
    const Range range = Add(labels.size());
    for (std::size_t d = 0; d < labels.size(); ++d) {
      Text(range.first + d, [&] { Put(labels[d]); });
      nodes_[range.first + d].Children = Span(samples(d));
    }
    return range;
  }

  std::span<const TStatNode> Span(const Range& range) const {
    return std::span<const TStatNode>(nodes_.data() + range.first, range.count);
  }

  // Drops what the bounds left unused; nothing moves.
  void Finish() {
    nodes_.resize(next_);
    texts_.resize(at_);
  }

 private:
  Range Add(std::size_t count) {
    const Range range{next_, std::min(count, nodes_.size() - next_)};
    for (std::size_t i = range.first; i < range.first + range.count; ++i) nodes_[i] = TStatNode{};
    next_ += range.count;
    return range;
  }
  template <class Write>
  void Text(std::size_t node, Write write) {
    const std::size_t start = at_;
    write();
    nodes_[node].Text = std::string_view(texts_.data() + start, at_ - start);
  }
  void Put(std::string_view text) {
    const std::size_t length = std::min(text.size(), texts_.size() - at_);
    std::memcpy(texts_.data() + at_, text.data(), length);
    at_ += length;
  }
  // The decimal digits of value, ending at `end`; the first of them.
  static char* Digits(std::uint32_t value, char* end) {
    do {
      *--end = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    return end;
  }
  void PutNumber(std::uint32_t value) {
    char digits[10];
    char* const end = digits + sizeof digits;
    const char* first = Digits(value, end);
    Put(std::string_view(first, static_cast<std::size_t>(end - first)));
  }
  // "<number> Sample -  <value>", number 1 to 20, made in one piece.
  void PutSample(unsigned number, std::uint32_t value) {
    static constexpr std::string_view kSample = " Sample -  ";
    char text[kLongestSample];
    char* const end = text + sizeof text;
    char* first = Digits(value, end);
    first -= kSample.size();
    std::memcpy(first, kSample.data(), kSample.size());
    first = Digits(std::min(number, 20u), first);
    Put(std::string_view(first, static_cast<std::size_t>(end - first)));
  }
  std::uint32_t Counter(std::size_t offset, int width) const {
    const std::uint32_t low = ByteAt(block_, offset);
    return width == 1 ? low : low | std::uint32_t{ByteAt(block_, offset + 1)} << 8;
  }

  std::span<const std::uint8_t> block_;
  std::vector<TStatNode>& nodes_;
  std::vector<char>& texts_;
  std::size_t next_ = 0;
  std::size_t at_ = 0;
};

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
  DecodeStatistics(block, tree);
  return tree;
}

void DecodeStatistics(std::span<const std::uint8_t> block, TStatisticsTree& tree) {
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
  labels.reserve(n);
  for (std::size_t d = 0; d < n; ++d) labels.push_back(DenominationLabel(block, d));

  TreeBuilder build(block, labels, tree.nodes_, tree.texts_);
  for (auto& group : tree.Groups) group.clear();

  // Samples based on 10000 inserted bills.
  auto& g10000 = tree.Groups[0];
  g10000.push_back(build.Span(build.Samples10000(0, 2)));
  for (std::size_t c = 1; c <= 4; ++c) {
    g10000.push_back(build.Span(build.Labelled(
        labels, [&](std::size_t d) { return build.Samples10000(2 + 40 * (c - 1) + 2 * d, 2); })));
  }
  g10000.push_back(build.Span(build.Samples10000(162, 2)));
  g10000.push_back(build.Span(build.Samples10000(164, 2)));
  for (std::size_t c = 7; c < kStatGroupCounters[0]; ++c) {
    g10000.push_back(build.Span(build.Samples10000(166 + (c - 7), 1)));
  }

  // Samples based on 500 inserted bills.
  auto& g500 = tree.Groups[1];
  g500.push_back(build.Span(build.Labelled(labels, [&](std::size_t d) {
    return build.Samples20(kStatSample500Offset + 2 * d, kStatSample500Size, 2);
  })));
  g500.push_back(build.Span(build.Labelled(labels, [&](std::size_t d) {
    return build.Samples20(kStatSample500Offset + 40 + d, kStatSample500Size, 1);
  })));
  for (std::size_t c = 2; c < kStatGroupCounters[1]; ++c) {
    g500.push_back(
        build.Span(build.Samples20(kStatSample500Offset + 60 + (c - 2), kStatSample500Size, 1)));
  }

  // Samples based on 50 inserted bills.
  tree.Groups[2].push_back(build.Span(build.Samples20(kStatSample50Offset, 1, 1)));
  build.Finish();
}

}  // namespace velkor
