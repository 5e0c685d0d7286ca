// Status lines, rejection reasons, failure lines and the decoding of the console's answers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceAnswers.h"
#include "StatusText.h"
#include "WindowChoices.h"

using namespace velkor;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Line(uint8_t status, uint8_t sub, const BillNameTable& names = {}) {
  return StatusText(status, sub, names).value_or("<none>");
}

}  // namespace

TEST(StatusText, EveryStatusRowAndNothingForCodesWithoutOne) {
  const std::pair<uint8_t, const char*> rows[] = {
      {0x10, "* Power Up"},
      {0x11, "* Power Up with Bill in Acceptor"},
      {0x12, "* Power Up with Bill in Stacker"},
      {0x13, "* Initialize"},
      {0x14, "* Idling"},
      {0x15, "* Accepting"},
      {0x17, "* Stacking"},
      {0x18, "* Returning"},
      {0x19, "* Unit Disabled"},
      {0x1A, "* Holding"},
      {0x1B, "* Device is busy"},
      {0x41, "* Stacker Full"},
      {0x42, "* Cash Box out of position"},
      {0x43, "* Acceptor Jammed"},
      {0x44, "* Stacker Jammed"},
      {0x45, "* Cheated"},
      {0x46, "* Pause"},
  };
  int lines = 0;
  for (int code = 0; code < 256; ++code) {
    const auto s = static_cast<uint8_t>(code);
    if (s == 0x1C || s == 0x47 || (s >= 0x80 && s <= 0x82)) continue;
    const auto text = StatusText(s, 0x00, {});
    const char* expected = nullptr;
    for (const auto& [c, t] : rows) {
      if (c == s) expected = t;
    }
    if (expected) {
      ++lines;
      EXPECT_EQ(text.value_or("<none>"), expected) << code;
    } else {
      EXPECT_FALSE(text.has_value()) << code;  // 0x16 and 0x30 included
    }
  }
  EXPECT_EQ(lines, 17);
}

TEST(StatusText, RejectionReasonsJoinThePrefixAndTheWord) {
  const std::pair<uint8_t, const char*> reasons[] = {
      {0x60, "Insertion"},       {0x61, "Magnetic"},       {0x62, "Remained"},
      {0x63, "Multiplying"},     {0x64, "Conveying"},      {0x65, "Identification"},
      {0x66, "Verification"},    {0x67, "Optic"},          {0x68, "Inhibit"},
      {0x69, "Capacity"},        {0x6A, "Operation"},      {0x6B, "Stack"},
      {0x6C, "Length"},          {0x92, "Unknown bill"},   {0x93, "Char Length Error"},
      {0x94, "Start bit error"}, {0x95, "Stop bit error"},
  };
  int found = 0;
  for (int code = 0; code < 256; ++code) {
    const auto text = RejectReasonText(static_cast<uint8_t>(code));
    if (text) ++found;
    EXPECT_EQ(text, StatusText(0x1C, static_cast<uint8_t>(code), {})) << code;
  }
  EXPECT_EQ(found, 17);
  for (const auto& [code, word] : reasons) {
    EXPECT_EQ(Line(0x1C, code), std::string("* Rejecting because of - ") + word);
  }
  EXPECT_FALSE(StatusText(0x1C, 0x6D, {}).has_value());
}

TEST(StatusText, FailureLinesAreWholeLines) {
  const std::pair<uint8_t, const char*> failures[] = {
      {0x50, "* Stack Motor Failure"},        {0x51, "* Transport Motor Speed Failure"},
      {0x52, "* Transport Motor Failure"},    {0x53, "* Aligning Motor Failure"},
      {0x54, "* Initial Box Status Failure"}, {0x55, "* Optic Canal Failure"},
      {0x56, "* Magnetic Canal Failure"},     {0x5F, "* Capacitace Canal Failure"},
  };
  for (const auto& [code, line] : failures) EXPECT_EQ(Line(0x47, code), line);
  for (int code = 0x57; code <= 0x5E; ++code) {
    EXPECT_FALSE(StatusText(0x47, static_cast<uint8_t>(code), {}).has_value()) << code;
  }
  EXPECT_FALSE(FailureText(0x00).has_value());
}

TEST(StatusText, BillEventsEndWithTheBillNameAndNeverReadBeyondTheTable) {
  BillNameTable names;
  names[0] = "1-USA";
  names[2] = "50-USA";
  names[23] = "100-EUR";
  EXPECT_EQ(Line(0x80, 2, names), "* Escrow - 50-USA");
  EXPECT_EQ(Line(0x81, 0, names), "* Stacked - 1-USA");
  EXPECT_EQ(Line(0x82, 23, names), "* Returned - 100-EUR");
  EXPECT_EQ(Line(0x81, 3, {}), "* Stacked - ");
  // Bill types of 24 and more (and a missing sub-code) name nothing.
  for (int type = 24; type < 256; ++type) {
    EXPECT_EQ(Line(0x80, static_cast<uint8_t>(type), names), "* Escrow - ") << type;
  }
}

TEST(AnswerData, CoversTheDataBytesOnlyAndStaysInsideTheBuffer) {
  const Bytes poll = {0x02, 0x03, 0x07, 0x80, 0x02, 0xAA, 0xBB, 0xEE, 0xEE};
  const auto data = AnswerData(poll);
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0], 0x80);
  EXPECT_EQ(data[1], 0x02);
  // One data byte: the sub-code is missing, not the check code's first byte.
  const Bytes shortPoll = {0x02, 0x03, 0x06, 0x80, 0x11, 0x22};
  const PollAnswer answer = ReadPollAnswer(AnswerData(shortPoll));
  EXPECT_EQ(answer.status, 0x80);
  EXPECT_EQ(answer.sub, kNoSubCode);
  // An announced length beyond the buffer is cut at the buffer's end.
  const Bytes cut = {0x02, 0x03, 0xFF, 0x01, 0x02, 0x03};
  EXPECT_EQ(AnswerData(cut).size(), 1u);
  // Extended form: the data follow the two length bytes.
  const Bytes extended = {0x02, 0x03, 0x00, 0x00, 0x09, 0x05, 0x06, 0xC1, 0xC2};
  const auto ext = AnswerData(extended);
  ASSERT_EQ(ext.size(), 2u);
  EXPECT_EQ(ext[0], 0x05);
  EXPECT_TRUE(AnswerData(Bytes{0x02, 0x03}).empty());
  EXPECT_TRUE(AnswerData(Bytes{0x02, 0x03, 0x04, 0x00}).empty());
}

TEST(BillTable, ValueTextIsRightForEveryDigitAndPower) {
  EXPECT_EQ(BillValueText(5, 0x00), "5");
  EXPECT_EQ(BillValueText(5, 0x01), "50");
  EXPECT_EQ(BillValueText(5, 0x03), "5000");
  EXPECT_EQ(BillValueText(5, 0x81), "0.5");
  EXPECT_EQ(BillValueText(5, 0x82), "0.05");
  EXPECT_EQ(BillValueText(1, 0x82), "0.01");
  EXPECT_EQ(BillValueText(5, 0x80), "5");  // 5 x 10^-0
  EXPECT_EQ(BillValueText(0, 0x80), "0");
  EXPECT_EQ(BillValueText(0, 0x00), "0");
  EXPECT_EQ(BillValueText(25, 0x81), "2.5");
  EXPECT_EQ(BillValueText(25, 0x82), "0.25");
  EXPECT_EQ(BillValueText(25, 0x83), "0.025");
  EXPECT_EQ(BillValueText(255, 0x82), "2.55");
  EXPECT_EQ(BillValueText(20, 0x02), "2000");
  // The largest powers stay bounded text.
  EXPECT_EQ(BillValueText(9, 0x7F), "9" + std::string(127, '0'));
  EXPECT_EQ(BillValueText(9, 0xFF), "0." + std::string(126, '0') + "9");
}

TEST(BillTable, LinesAndNamesForEntriesBelowAndAboveTenAndForBitSeven) {
  Bytes data(120, 0);
  auto entry = [&](int k, Bytes bytes) {
    std::copy(bytes.begin(), bytes.end(), data.begin() + 5 * k);
  };
  entry(2, {5, 'U', 'S', 'A', 0x01});
  entry(12, {1, 'R', 'U', 'S', 0x82});
  entry(7, {2, 'E', 'U', 'R', 0x80});
  entry(5, {0, 'K', 'Z', 'T', 0x00});
  const auto entries = DecodeBillTable(data);
  EXPECT_EQ(entries[2].line, "*   2- 50-USA;   ");
  EXPECT_EQ(entries[2].name, "50-USA");
  EXPECT_EQ(entries[12].line, "* 12-  0.01-RUS;   ");
  EXPECT_EQ(entries[7].line, "*   7-  2-EUR;   ");
  EXPECT_EQ(entries[5].line, "*   5- 0-KZT;   ");
  // Empty entries still give a line; zero country bytes are left out.
  EXPECT_EQ(entries[0].line, "*   0- 0-;   ");
  EXPECT_EQ(entries[23].line, "* 23- 0-;   ");
  EXPECT_EQ(entries[23].name, "0-");
}

TEST(BillTable, AShortTableReadsOnlyWhatArrivedAndControlBytesStayOnOneLine) {
  // Two whole entries and half of the third.
  const Bytes data = {1, 'U', 'S', 'A', 0x02, 5, '\n', 0x00, '\r', 0x01, 9, 'X'};
  const auto entries = DecodeBillTable(data);
  EXPECT_EQ(entries[0].name, "100-USA");
  EXPECT_EQ(entries[1].name, "50-  ");  // newline and CR become spaces, the zero is left out
  EXPECT_EQ(entries[1].name.size(), 5u);
  EXPECT_EQ(entries[2].name, "9-X");
  EXPECT_EQ(entries[3].line, "*   3- 0-;   ");
  for (const auto& e : entries) EXPECT_EQ(e.line.find_first_of("\r\n"), std::string::npos);
}

TEST(Identification, FieldsUpToTheirZeroAndTheAssetNumberInDecimal) {
  Bytes data(34, 0);
  const std::string part = "BV-ZEL-3000";
  const std::string serial = "SN0123456789";  // the full 12 characters, no zero
  std::copy(part.begin(), part.end(), data.begin());
  std::copy(serial.begin(), serial.end(), data.begin() + 15);
  data[27 + 5] = 0x01;  // 00 00 00 00 00 01 00
  auto lines = IdentificationLines(data);
  EXPECT_EQ(lines[0], "* Part Number - BV-ZEL-3000");
  EXPECT_EQ(lines[1], "* Serial Number - SN0123456789");
  EXPECT_EQ(lines[2], "* Asset Number - 256");
  std::fill(data.begin() + 27, data.end(), 0xFF);
  EXPECT_EQ(IdentificationLines(data)[2], "* Asset Number - 72057594037927935");
  // A 15-character part number runs into the serial number's field but stops at 15.
  std::fill(data.begin(), data.begin() + 15, 'P');
  EXPECT_EQ(IdentificationLines(data)[0], "* Part Number - " + std::string(15, 'P'));
}

TEST(Identification, AShortAnswerNeverReadsPastWhatArrived) {
  const Bytes data = {'A', 'B', '\t', 'C'};
  const auto lines = IdentificationLines(data);
  EXPECT_EQ(lines[0], "* Part Number - AB C");
  EXPECT_EQ(lines[1], "* Serial Number - ");
  EXPECT_EQ(lines[2], "* Asset Number - 0");
  EXPECT_EQ(IdentificationLines({})[0], "* Part Number - ");
}

TEST(Masks, PrintBitSevenFirstAndParseTheEditsTheSameWay) {
  const Bytes all = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00};
  EXPECT_EQ(MaskLine(all, 0), "1111.1111--1111.1111--1111.1111");
  EXPECT_EQ(MaskLine(all, 3), "0000.0000--0000.0000--0000.0000");
  const Bytes mixed = {0x80, 0x00, 0x01};
  EXPECT_EQ(MaskLine(mixed, 0), "1000.0000--0000.0000--0000.0001");
  EXPECT_EQ(MaskLine(mixed, 2), "0000.0001--0000.0000--0000.0000");  // missing bytes read 0

  std::array<uint8_t, 3> bytes{};
  ASSERT_TRUE(ParseBitEdits({"10000000", "00000000", "00000001"}, bytes));
  EXPECT_EQ(bytes, (std::array<uint8_t, 3>{0x80, 0x00, 0x01}));
  ASSERT_TRUE(ParseBitEdits({"11111111", "01010101", "00001111"}, bytes));
  EXPECT_EQ(bytes, (std::array<uint8_t, 3>{0xFF, 0x55, 0x0F}));
  const std::array<uint8_t, 3> before = bytes;
  for (const auto& bad : std::vector<std::array<std::string_view, 3>>{
           {"11111111", "1111111", "11111111"},   // seven characters
           {"11111111", "1111 111", "11111111"},  // a space
           {"11111111", "11111112", "11111111"},  // a 2
           {"", "00000000", "00000000"},
           {"00000000", "00000000", "0000000?"}}) {
    EXPECT_FALSE(ParseBitEdits(bad, bytes));
    EXPECT_EQ(bytes, before);
  }
  // Only the first eight characters count.
  ASSERT_TRUE(ParseBitEdits({"000000011", "00000000", "00000000"}, bytes));
  EXPECT_EQ(bytes[0], 0x01);
}

TEST(Barcode, ShowsTheChosenLengthButNeverMoreThanArrived) {
  EXPECT_EQ(BarcodeLength(6), 18);
  EXPECT_EQ(BarcodeLength(0), 6);
  EXPECT_EQ(BarcodeLength(-1), 4);
  const std::string digits = "123456789012345678";
  const Bytes data(digits.begin(), digits.end());
  EXPECT_EQ(BarcodeLine(data, 18), "BarCode: 123456789012345678;");
  EXPECT_EQ(BarcodeLine(data, 6), "BarCode: 123456;");
  EXPECT_EQ(BarcodeLine(Bytes{'4', '2'}, 18), "BarCode: 42;");
  EXPECT_EQ(BarcodeLine(Bytes{'1', 0x00, '2', 0x0A, '3', 0x7F, 0x85, 0xE9}, 18),
            "BarCode: 12 3  \xE9;");
  EXPECT_EQ(BarcodeLine({}, 18), "BarCode: ;");
  EXPECT_EQ(BaudForIndex(0), 9600u);
  EXPECT_EQ(BaudForIndex(1), 19200u);
  EXPECT_EQ(BaudForIndex(-1), 19200u);
}

TEST(Crc32, AnswerBytesThreeToSixAsEightHexDigits) {
  EXPECT_EQ(Crc32Line(Bytes{0x02, 0x03, 0x09, 0x00, 0x0A, 0xBC, 0xDE, 0x00, 0x00}),
            "* CRC32 = 000ABCDE");
  EXPECT_EQ(Crc32Line(Bytes{0x02, 0x03, 0x09, 0xFF, 0x01, 0x23, 0x45}), "* CRC32 = FF012345");
  EXPECT_EQ(Crc32Line(Bytes{0x02, 0x03, 0x09, 0x7F}), "* CRC32 = 7F000000");
}
