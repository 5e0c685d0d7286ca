// The validator's statistics block (answer to command 0x60): field layout, the text made from
// every field, and the nodes that go under each preset node of the statistics tree. The request
// that brings the block is StatisticsRequest's.
//
// Plain C++ without Qt. Offsets count from the answer frame's first byte. Every read is bounded
// by the buffer given: bytes beyond it read as 0, so any buffer (the 10,000-byte answer buffer,
// or a shorter one) decodes safely.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

inline constexpr std::size_t kStatisticsAnswerSize = 10000;
inline constexpr std::uint8_t kStatisticsType = 5;
inline constexpr std::size_t kMaxDenominations = 20;

// Field offsets of the block.
inline constexpr std::size_t kStatCountryOffset = 5;
inline constexpr std::size_t kStatCountryWidth = 3;
inline constexpr std::size_t kStatDenominationCountOffset = 8;
inline constexpr std::size_t kStatTypeOffset = 9;
inline constexpr std::size_t kStatDateOffset = 10;
inline constexpr std::size_t kStatSerialOffset = 18;
inline constexpr std::size_t kStatSerialWidth = 12;
inline constexpr std::size_t kStatSample10000Offset = 37;
inline constexpr std::size_t kStatSample10000Size = 179;
inline constexpr std::size_t kStatSample10000Records = 16;  // 0-14 samples, 15 the current one
inline constexpr std::size_t kStatSample500Offset = 2901;
inline constexpr std::size_t kStatSample500Size = 66;
inline constexpr std::size_t kStatSample50Offset = 4221;
inline constexpr std::size_t kStatDenominationOffset = 4241;
inline constexpr std::size_t kStatDenominationSize = 5;
inline constexpr std::size_t kStatCurrencyOffset = 4341;
inline constexpr std::size_t kStatCurrencyWidth = 20;

// How many counters each group of the statistics tree has: 10000, 500 and 50 inserted bills.
inline constexpr std::array<std::size_t, 3> kStatGroupCounters = {20, 8, 1};

// One node below a preset node: a sample, or a denomination label with its samples. Its text and
// its children are held by the tree it belongs to.
struct TStatNode {
  std::string_view Text;
  std::span<const TStatNode> Children;
};

// Everything a fill adds to the preset tree, in display order (top to bottom). The nodes and their
// texts live in two buffers of the tree, sized once per decoding: a tree can be moved, not copied.
class TStatisticsTree {
 public:
  TStatisticsTree() = default;
  TStatisticsTree(TStatisticsTree&&) = default;
  TStatisticsTree& operator=(TStatisticsTree&&) = default;
  TStatisticsTree(const TStatisticsTree&) = delete;
  TStatisticsTree& operator=(const TStatisticsTree&) = delete;

  // The five header lines that go above the first group.
  std::vector<std::string> Header;
  // Groups[g][c]: the nodes under counter c of group g.
  std::array<std::vector<std::span<const TStatNode>>, 3> Groups;

 private:
  friend void DecodeStatistics(std::span<const std::uint8_t> block, TStatisticsTree& tree);
  std::vector<TStatNode> nodes_;
  std::vector<char> texts_;
};

// Width 2: answer[offset] + 256 * answer[offset + 1]; any other width: the four bytes from offset,
// low byte first. Bytes outside the buffer read as 0.
std::uint32_t ReadLe(std::span<const std::uint8_t> answer, std::size_t offset, int width);

// True when byte 9 (type of statistics) is 5.
bool IsStatisticsBlockValid(std::span<const std::uint8_t> block);

// Characters of a text field up to the first zero byte, as UTF-8 (the bytes are Windows-1252);
// control characters become spaces, so a text is always one line.
std::string StatText(std::span<const std::uint8_t> block, std::size_t offset, std::size_t width);

// The 20-character currency name up to the first zero byte, cut before its first ". ".
std::string CurrencyName(std::span<const std::uint8_t> block);

// Decimal text of leading digit (entry byte 0, bits 0-3) times 10 to the power (entry byte 4,
// signed; 0 or less counts as 0), written as digits and zeros, so no power overflows.
std::string DenominationValueText(std::uint8_t entryByte0, std::uint8_t powerByte);

// Label of denomination d: value, " ", "new " when flagged, currency name; trailing spaces
// dropped; "s" appended when the value is above 1.
std::string DenominationLabel(std::span<const std::uint8_t> block, std::size_t d);

// Number of denominations the block's per-denomination loops cover: byte 8, at most 20.
std::size_t DenominationCount(std::span<const std::uint8_t> block);

// The header lines, and the samples and labels under every counter of every group.
TStatisticsTree DecodeStatistics(std::span<const std::uint8_t> block);
// The same into `tree`, in place of what it held, reusing its buffers.
void DecodeStatistics(std::span<const std::uint8_t> block, TStatisticsTree& tree);

}  // namespace velkor
