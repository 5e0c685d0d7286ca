// Decoding the statistics block: field reads, texts (spaces exact), denomination values and
// labels, sample numbering and the nodes under every counter.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "StatBlockBuilder.h"
#include "StatDecode.h"

using namespace velkor;
using namespace std::string_view_literals;
using velkor::test::BlockBuilder;

namespace {

std::string Sample(unsigned number, unsigned value) {
  return std::to_string(number) + " Sample -  " + std::to_string(value);
}
std::string Current(unsigned value) {
  return "Current Sample -  " + std::to_string(value);
}

std::span<const std::uint8_t> Span(const BlockBuilder& block) {
  return block.Bytes();
}

}  // namespace

TEST(StatFields, ReadLeIsLowByteFirstAndBoundedByTheBuffer) {
  const std::uint8_t bytes[] = {0x34, 0x12, 0x78, 0x56, 0x9A};
  EXPECT_EQ(ReadLe(bytes, 0, 2), 0x1234u);
  EXPECT_EQ(ReadLe(bytes, 0, 4), 0x56781234u);
  EXPECT_EQ(ReadLe(bytes, 1, 1), 0x9A567812u);  // any width but 2 reads four bytes
  EXPECT_EQ(ReadLe(bytes, 3, 4), 0x9A56u);      // bytes beyond the buffer read as 0
  EXPECT_EQ(ReadLe(bytes, 5, 2), 0u);
  EXPECT_EQ(ReadLe({}, 0, 2), 0u);
}

TEST(StatFields, HeaderLinesWithSpacesExact) {
  const auto tree = DecodeStatistics(Span(velkor::test::DollarBlock()));
  ASSERT_EQ(tree.Header.size(), 5u);
  EXPECT_EQ(tree.Header[0], "Country Code -  USA");
  EXPECT_EQ(tree.Header[1], "Total number of denominations -  3");
  EXPECT_EQ(tree.Header[2], "Type of statistics -  5");
  EXPECT_EQ(tree.Header[3], "Date and time of last clearing : 2002/3/7 9:5:0");
  EXPECT_EQ(tree.Header[4], "Serial number: BV0123456789");
  EXPECT_TRUE(IsStatisticsBlockValid(Span(velkor::test::DollarBlock())));
  EXPECT_FALSE(IsStatisticsBlockValid(BlockBuilder().Put8(9, 4).Bytes()));
  EXPECT_FALSE(
      IsStatisticsBlockValid(std::span<const std::uint8_t>(BlockBuilder().Bytes()).first(9)));
}

TEST(StatFields, TextsEndAtAZeroByteAndStayOnOneLine) {
  BlockBuilder block;
  block.Text(5, "R\0S"sv)
      .Text(18,
            "SN\r\n12\t3\x7F"
            "4\0ZZ"sv)
      .Text(4341, "\x80uro\x81\xE9"sv);
  EXPECT_EQ(StatText(block.Bytes(), 5, 3), "R");
  EXPECT_EQ(StatText(block.Bytes(), 18, 12), "SN  12 3 4");
  // Windows-1252: 0x80 is the euro sign, 0xE9 e acute; 0x81 is undefined and shows as a space.
  EXPECT_EQ(CurrencyName(block.Bytes()), "\u20ACuro \u00E9");
  // Twenty characters without a zero byte are all read, and no more.
  block.Text(4341, "ABCDEFGHIJKLMNOPQRSTUV");
  EXPECT_EQ(CurrencyName(block.Bytes()), "ABCDEFGHIJKLMNOPQRST");
  block.Text(4341, "U.S. Dollar.Dollar. ");
  EXPECT_EQ(CurrencyName(block.Bytes()), "U.S");
}

TEST(StatDenominations, ValuesNeverOverflow) {
  EXPECT_EQ(DenominationValueText(0x01, 0), "1");
  EXPECT_EQ(DenominationValueText(0x41, 2), "100");   // the new flag is not part of the value
  EXPECT_EQ(DenominationValueText(0xF5, 3), "5000");  // bits 4-7 are not the digit
  EXPECT_EQ(DenominationValueText(0x0F, 1), "150");
  EXPECT_EQ(DenominationValueText(0x00, 9), "0");
  EXPECT_EQ(DenominationValueText(0x03, 0x80), "3");  // -128: 10 to the power 0
  EXPECT_EQ(DenominationValueText(0x02, 0xFF), "2");
  EXPECT_EQ(DenominationValueText(0x01, 19), "10000000000000000000");
  EXPECT_EQ(DenominationValueText(0x09, 127), "9" + std::string(127, '0'));
}

TEST(StatDenominations, LabelsWithNewFlagAndPlural) {
  const auto block = velkor::test::DollarBlock();
  EXPECT_EQ(DenominationLabel(block.Bytes(), 0), "1 Dollar");
  EXPECT_EQ(DenominationLabel(block.Bytes(), 1), "100 new Dollars");
  EXPECT_EQ(DenominationLabel(block.Bytes(), 2), "50 Dollars");

  BlockBuilder other;
  other.Text(4341, "Euro \t\x01  ").Denomination(0, 0x02, 0).Denomination(1, 0x40, 0);
  EXPECT_EQ(DenominationLabel(other.Bytes(), 0), "2 Euros");  // trailing spaces and controls go
  EXPECT_EQ(DenominationLabel(other.Bytes(), 1), "0 new Euro");
  other.Text(4341, std::string(20, '\0')).Denomination(2, 0x05, 127);
  EXPECT_EQ(DenominationLabel(other.Bytes(), 0), "2s");
  EXPECT_EQ(DenominationLabel(other.Bytes(), 2), "5" + std::string(127, '0') + "s");
}

TEST(StatTree, SamplesAreNumberedAndOrderedPerGroup) {
  using namespace velkor::test;
  const auto tree = DecodeStatistics(Span(DollarBlock()));
  const auto& g10000 = tree.Groups[0];
  ASSERT_EQ(g10000.size(), 20u);

  // Counter 0: current (record 15), then samples 1 ... 15 (records 14 ... 0).
  ASSERT_EQ(g10000[0].size(), 16u);
  EXPECT_EQ(g10000[0][0].Text, Current(Value10000(15, 0)));
  EXPECT_EQ(g10000[0][1].Text, Sample(1, Value10000(14, 0)));
  EXPECT_EQ(g10000[0][15].Text, Sample(15, Value10000(0, 0)));
  // Counters 5 and 6 are 16 bits, 7 ... 19 one byte.
  EXPECT_EQ(g10000[5][0].Text, Current(Value10000(15, 162)));
  EXPECT_EQ(g10000[6][3].Text, Sample(3, Value10000(12, 164)));
  EXPECT_EQ(g10000[7][1].Text, Sample(1, Byte10000(14, 166)));
  EXPECT_EQ(g10000[19][0].Text, Current(Byte10000(15, 178)));
  EXPECT_EQ(g10000[19][15].Text, Sample(15, Byte10000(0, 178)));

  // Counters 1-4: one label per denomination, each with current, 1 ... 15.
  for (std::size_t c = 1; c <= 4; ++c) {
    ASSERT_EQ(g10000[c].size(), 3u);
    EXPECT_EQ(g10000[c][0].Text, "1 Dollar");
    EXPECT_EQ(g10000[c][1].Text, "100 new Dollars");
    EXPECT_EQ(g10000[c][2].Text, "50 Dollars");
    for (const auto& label : g10000[c]) EXPECT_EQ(label.Children.size(), 16u);
  }
  const unsigned magnetic = 2 + 40 * 2;  // counter 3, denomination 0
  EXPECT_EQ(g10000[3][1].Children[0].Text, Current(Value10000(15, magnetic + 2)));
  EXPECT_EQ(g10000[3][1].Children[2].Text, Sample(2, Value10000(13, magnetic + 2)));
  EXPECT_EQ(g10000[1][2].Children[15].Text, Sample(15, Value10000(0, 2 + 4)));
  EXPECT_EQ(g10000[4][0].Children[1].Text, Sample(1, Value10000(14, 122)));

  // 500 bills: labels under counters 0 and 1 with samples 1 ... 20 (records 19 ... 0).
  const auto& g500 = tree.Groups[1];
  ASSERT_EQ(g500.size(), 8u);
  ASSERT_EQ(g500[0].size(), 3u);
  ASSERT_EQ(g500[1].size(), 3u);
  EXPECT_EQ(g500[0][1].Text, "100 new Dollars");
  ASSERT_EQ(g500[0][2].Children.size(), 20u);
  EXPECT_EQ(g500[0][2].Children[0].Text, Sample(1, Value500(19, 2)));
  EXPECT_EQ(g500[0][2].Children[19].Text, Sample(20, Value500(0, 2)));
  EXPECT_EQ(g500[1][0].Children[0].Text, Sample(1, Byte500(19, 40)));
  EXPECT_EQ(g500[1][2].Children[4].Text, Sample(5, Byte500(15, 42)));
  for (std::size_t c = 2; c < 8; ++c) {
    ASSERT_EQ(g500[c].size(), 20u);
    EXPECT_EQ(g500[c][0].Text, Sample(1, Byte500(19, 60 + static_cast<unsigned>(c) - 2)));
    EXPECT_EQ(g500[c][19].Text, Sample(20, Byte500(0, 60 + static_cast<unsigned>(c) - 2)));
  }

  // 50 bills: samples 1 ... 20 (bytes 19 ... 0).
  ASSERT_EQ(tree.Groups[2].size(), 1u);
  ASSERT_EQ(tree.Groups[2][0].size(), 20u);
  EXPECT_EQ(tree.Groups[2][0][0].Text, Sample(1, Byte50(19)));
  EXPECT_EQ(tree.Groups[2][0][19].Text, Sample(20, Byte50(0)));
}

TEST(StatTree, DenominationCountIsBoundedAndZeroGivesNoLabels) {
  BlockBuilder none;
  none.Put8(8, 0);
  const auto empty = DecodeStatistics(none.Bytes());
  EXPECT_EQ(empty.Header[1], "Total number of denominations -  0");
  for (std::size_t c = 1; c <= 4; ++c) EXPECT_TRUE(empty.Groups[0][c].empty());
  EXPECT_TRUE(empty.Groups[1][0].empty());
  EXPECT_TRUE(empty.Groups[1][1].empty());
  EXPECT_EQ(empty.Groups[1][2].size(), 20u);

  BlockBuilder many;
  many.Put8(8, 255).Text(4341, "Lira");
  for (std::size_t d = 0; d < 20; ++d) many.Denomination(d, 1, static_cast<std::uint8_t>(d));
  const auto tree = DecodeStatistics(many.Bytes());
  EXPECT_EQ(tree.Header[1], "Total number of denominations -  255");
  EXPECT_EQ(DenominationCount(many.Bytes()), 20u);
  ASSERT_EQ(tree.Groups[0][1].size(), 20u);
  ASSERT_EQ(tree.Groups[1][1].size(), 20u);
  EXPECT_EQ(tree.Groups[0][4][19].Text, "1" + std::string(19, '0') + " Liras");
  // Denomination 19's last 500-bill sample is the last 16-bit counter of record 0.
  EXPECT_EQ(tree.Groups[1][0][19].Children[19].Text, Sample(20, velkor::test::Value500(0, 19)));
}

TEST(StatTree, ShortBuffersReadAsZeros) {
  const auto tree = DecodeStatistics({});
  EXPECT_EQ(tree.Header[0], "Country Code -  ");
  EXPECT_EQ(tree.Header[3], "Date and time of last clearing : 0/0/0 0:0:0");
  EXPECT_EQ(tree.Header[4], "Serial number: ");
  EXPECT_EQ(tree.Groups[0][0][0].Text, "Current Sample -  0");

  // A block cut inside the 500-bill records: what lies beyond reads as 0.
  const auto block = velkor::test::DollarBlock();
  const auto cut = DecodeStatistics(std::span<const std::uint8_t>(block.Bytes()).first(2901 + 66));
  EXPECT_EQ(cut.Groups[1][0][0].Children[19].Text, Sample(20, velkor::test::Value500(0, 0)));
  EXPECT_EQ(cut.Groups[1][0][0].Children[18].Text, Sample(19, 0));
  EXPECT_EQ(cut.Groups[0][1].size(), 3u);
  EXPECT_EQ(cut.Groups[0][1][0].Text, "0");  // the entries and the currency lie beyond the cut
}
