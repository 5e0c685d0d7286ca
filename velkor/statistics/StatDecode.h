// The validator's statistics block (answer to command 0x60): field layout, the text made from
// every field, and the nodes that go under each preset node of the statistics tree.
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

#include "Frame.h"

namespace velkor {

inline constexpr int kStatisticsTicks = 10000;  // answer time-out, ticks of 10 ms
// Sent (its outcome ignored) after a block that fails its check.
inline constexpr std::uint8_t kStatisticsRejectCommand = 0x62;
inline constexpr int kStatisticsRejectTicks = 30;
inline constexpr std::string_view kTextStatisticsExecuted =
    "The Read Statistic-command is executed";

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
inline constexpr std::size_t kStatSample500Records = 20;
inline constexpr std::size_t kStatSample50Offset = 4221;
inline constexpr std::size_t kStatSample50Records = 20;
inline constexpr std::size_t kStatDenominationOffset = 4241;
inline constexpr std::size_t kStatDenominationSize = 5;
inline constexpr std::size_t kStatCurrencyOffset = 4341;
inline constexpr std::size_t kStatCurrencyWidth = 20;
// A frame carrying exactly these fields, check code included.
inline constexpr std::size_t kStatBlockFrameSize = 4363;

// Captions of the preset nodes of the statistics tree: three groups, each with its counters.
inline constexpr std::array<std::string_view, 3> kStatGroupCaptions = {
    "Samples based on 10000 inserted bills",
    "Samples based on 500 inserted bills",
    "Samples based on 50 inserted bills",
};
inline constexpr std::array<std::string_view, 20> kStat10000Counters = {
    "Number of inserted bills",
    "Number of accepted bills",
    "Number of rejected bills by optical test",
    "Number of rejected bills by magnetic test",
    "Number of rejected bills by capacitance test",
    "Number of unrecognized bills",
    "Number of rejected bills by length error",
    "Number of Magnetic channel failures",
    "Number of Optical channel failures",
    "Number of Transport mech failures",
    "Number of Stacking mech failures",
    "Number of Aligning mech failures",
    "Number of jams in cassette",
    "Number of jams at entrance sensor",
    "Number of jams at both entrance and aligning sensors",
    "Number of jams at aligning sensor",
    "Number of jams at both aligning and optical sensors",
    "Number of jams at optical sensor",
    "Number of jams at both optical and exit sensors",
    "Number of jams at exit sensor",
};
inline constexpr std::array<std::string_view, 8> kStat500Counters = {
    "Number of accepted bills",
    "Number of rejected bills by verification",
    "Total number of rejected bills by optical test",
    "Total number of rejected bills by magnetic test",
    "Total number of rejected bills by capacitance test",
    "Number of jams at bezel",
    "Number of jams at transport path",
    "Total number of jams",
};
inline constexpr std::array<std::string_view, 1> kStat50Counters = {"Total number of jams"};

// The counter captions of group g (0, 1 or 2).
std::span<const std::string_view> StatCounterCaptions(std::size_t group);

// One node below a preset node: a sample, or a denomination label with its samples.
struct TStatNode {
  std::string Text;
  std::vector<TStatNode> Children;
};

// Everything a fill adds to the preset tree, in display order (top to bottom).
struct TStatisticsTree {
  // The five header lines that go above the first group.
  std::vector<std::string> Header;
  // Groups[g][c]: the children of counter c of group g.
  std::array<std::vector<std::vector<TStatNode>>, 3> Groups;
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

}  // namespace velkor
