// The HEX passes on hand-written files: line framing, the faults the checking pass refuses,
// record types and banks, the wrap past 0xFFFF, page and block counts, and progress.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "HexFile.h"
#include "HexTestSupport.h"

using namespace velkor;
using velkor::test::Load;
using zelnet::test::DataRecord;
using zelnet::test::kEndOfFile;
using zelnet::test::Record;

TEST(HexFileName, LastThreeCharactersExactlyHexOrHEX) {
  EXPECT_TRUE(IsHexFileName("/fw/main.hex"));
  EXPECT_TRUE(IsHexFileName("C:\\FW\\MAIN.HEX"));
  EXPECT_TRUE(IsHexFileName("firmwarehex"));  // no dot needed
  EXPECT_TRUE(IsHexFileName("hex"));
  EXPECT_FALSE(IsHexFileName("main.Hex"));
  EXPECT_FALSE(IsHexFileName("main.hEX"));
  EXPECT_FALSE(IsHexFileName("main.hex "));
  EXPECT_FALSE(IsHexFileName("main.bin"));
  EXPECT_FALSE(IsHexFileName("ex"));
  EXPECT_FALSE(IsHexFileName(""));
}

TEST(HexPair, UpperCaseDigitsOnlyOthersCountZero) {
  EXPECT_EQ(HexPairToByte('1', 'F'), 0x1F);
  EXPECT_EQ(HexPairToByte('F', 'F'), 0xFF);
  EXPECT_EQ(HexPairToByte('9', '0'), 0x90);
  EXPECT_EQ(HexPairToByte('a', 'b'), 0x00);
  EXPECT_EQ(HexPairToByte('G', '7'), 0x07);
  EXPECT_TRUE(IsHexDigit('0') && IsHexDigit('9') && IsHexDigit('A') && IsHexDigit('F'));
  EXPECT_FALSE(IsHexDigit('a') || IsHexDigit('G') || IsHexDigit(' ') || IsHexDigit('\r'));
}

TEST(HexFraming, SixteenByteRecordWithCrLfFitsTheLineBufferOneMoreCharacterDoesNot) {
  const std::string record = DataRecord(0x0000, 16);
  ASSERT_EQ(record.size(), 45u);  // 44 characters and the line feed
  const auto fits = Load(record + kEndOfFile);
  EXPECT_TRUE(fits.Ok()) << fits.checkError << fits.loadError;
  EXPECT_EQ(fits.At(0), 0x10);
  EXPECT_EQ(fits.At(15), 0x1F);

  const auto lfOnly = Load(DataRecord(0x0000, 16, 0x10, "\n") + ":00000001FF\n");
  EXPECT_TRUE(lfOnly.Ok()) << lfOnly.checkError << lfOnly.loadError;

  std::string longer = record;
  longer.insert(longer.size() - 2, "0");
  const auto tooLong = Load(longer + kEndOfFile);
  EXPECT_FALSE(tooLong.checked);
  EXPECT_EQ(tooLong.checkError, "line 1: no line feed within the first 45 characters");

  // 17 data bytes need 45 characters before the line feed even without a carriage return.
  const auto seventeen = Load(DataRecord(0x0000, 17, 0x10, "\n") + kEndOfFile);
  EXPECT_FALSE(seventeen.checked);
}

TEST(HexFraming, FirstPassRefusesWhatCannotBeLoadedFaithfully) {
  const std::string good = DataRecord(0x0100, 4);
  struct Case {
    const char* what;
    std::string file;
    std::string error;
    bool loadPassStopsBefore = false;  // the fault lies after the end-of-file record
  };
  std::string badChecksum = good;
  badChecksum[badChecksum.size() - 3] = badChecksum[badChecksum.size() - 3] == '0' ? '1' : '0';
  std::string lowerCase = Record(0x00, 0x00AB, {0xCD});
  for (char& c : lowerCase) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
  const std::vector<Case> cases = {
      {"empty file", "", "the file is empty"},
      {"trailing empty line", good + kEndOfFile + "\r\n", "line 3: does not start with ':'", true},
      {"last line without line feed", good + ":00000001FF", "line 2: not ended by a line feed"},
      {"bad checksum", good + good + badChecksum + kEndOfFile, "line 3: checksum"},
      {"lower-case digits", lowerCase + kEndOfFile, "line 1: character 0x61 at column"},
      {"space inside the line", ":0400000 010111213B6\r\n" + kEndOfFile,
       "line 1: character 0x20 at column 9"},
      {"carriage return inside the line", ":04000000\r10111213B6\r\n",
       "line 1: character 0x0D at column 10"},
      {"colon only", ":\r\n" + kEndOfFile, "line 1: too short for a record (0 digits)"},
      {"one character", ":0\n" + kEndOfFile, "line 1: too short for a record (1 digits)"},
      {"no checksum", ":00000001\r\n", "line 1: too short for a record (8 digits)"},
      {"odd digits", ":0000000100F\r\n", "line 1: odd number of digits (11)"},
      {"count above the bytes", ":0500000010111213B6\r\n" + kEndOfFile,
       "line 1: byte count 0x05 does not match the 4 data bytes on the line"},
      {"count below the bytes", ":0300000010111213B6\r\n" + kEndOfFile,
       "line 1: byte count 0x03 does not match the 4 data bytes on the line"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto result = Load(c.file);
    EXPECT_FALSE(result.checked);
    EXPECT_EQ(result.checkError.substr(0, c.error.size()), c.error) << result.checkError;
    if (c.loadPassStopsBefore) continue;
    // The loading pass alone refuses the same file.
    auto image = std::make_unique<FirmwareImageBytes>();
    HexLoadState state;
    TNoProgress progress;
    EXPECT_EQ(LoadHexImage(c.file, *image, state, progress), HexLoadResult::HexError);
  }
}

TEST(HexRecords, LinesAfterEndOfFileAreCheckedButNotLoaded) {
  const auto loaded = Load(DataRecord(0x0000, 2) + kEndOfFile + DataRecord(0x0100, 2));
  ASSERT_TRUE(loaded.Ok());
  EXPECT_EQ(loaded.At(0x0100), 0xFF);
  EXPECT_EQ(loaded.Written(), 2u);

  const auto badAfter = Load(DataRecord(0x0000, 2) + kEndOfFile + ":0000000100\r\n");
  EXPECT_FALSE(badAfter.checked);
  EXPECT_EQ(badAfter.checkError, "line 3: checksum 0x00 should be 0xFF");
}

TEST(HexRecords, AFileWithoutDataOrWithoutEndIsAHexError) {
  auto onlyEnd = Load(kEndOfFile);
  EXPECT_TRUE(onlyEnd.checked);
  EXPECT_EQ(onlyEnd.loaded, HexLoadResult::HexError);
  EXPECT_EQ(onlyEnd.loadError, "line 1: no data before the end-of-file record");

  auto onlyAddresses = Load(Record(0x04, 0, {0x00, 0x00}) + Record(0x05, 0, {0, 0, 0x10, 0}) +
                            Record(0x00, 0x1234, {}) + kEndOfFile);
  EXPECT_EQ(onlyAddresses.loaded, HexLoadResult::HexError);

  auto noEnd = Load(DataRecord(0x0000, 16));
  EXPECT_TRUE(noEnd.checked);
  EXPECT_EQ(noEnd.loaded, HexLoadResult::HexError);
  EXPECT_EQ(noEnd.loadError, "no end-of-file record");
}

TEST(HexRecords, StartAddressesAreNotDataAndUnknownTypesAreRefused) {
  const auto loaded =
      Load(Record(0x03, 0x0000, {0x12, 0x34, 0x56, 0x78}) +
           Record(0x05, 0x0000, {0x00, 0x01, 0x80, 0x00}) + DataRecord(0x0200, 3) + kEndOfFile);
  ASSERT_TRUE(loaded.Ok()) << loaded.loadError;
  EXPECT_EQ(loaded.Written(), 3u);
  EXPECT_EQ(loaded.At(0x0000), 0xFF);

  const auto unknown = Load(DataRecord(0x0000, 1) + Record(0x06, 0x0000, {0x01}) + kEndOfFile);
  EXPECT_EQ(unknown.loaded, HexLoadResult::HexError);
  EXPECT_EQ(unknown.loadError, "line 2: unknown record type 0x06");
}

TEST(HexBanks, SegmentAndLinearAddressRecordsSelectTheUpperBank) {
  // 02 with segment 0x1000 switches to the upper bank; a later 0x0000 does not switch back.
  const auto segment = Load(DataRecord(0x0010, 2, 0xA0) + Record(0x02, 0, {0x10, 0x00}) +
                            DataRecord(0x0020, 2, 0xB0) + Record(0x02, 0, {0x00, 0x00}) +
                            DataRecord(0x0030, 2, 0xC0) + kEndOfFile);
  ASSERT_TRUE(segment.Ok()) << segment.loadError;
  EXPECT_EQ(segment.At(0x00010), 0xA0);
  EXPECT_EQ(segment.At(0x10020), 0xB0);
  EXPECT_EQ(segment.At(0x10030), 0xC0);
  EXPECT_EQ(segment.At(0x00030), 0xFF);
  EXPECT_EQ(segment.Written(), 6u);
  EXPECT_EQ(segment.state.UpperBank, 1);

  // 04 with 0x0001 is the upper bank; 0x0000 changes nothing; its bytes are never data.
  const auto linear =
      Load(Record(0x04, 0, {0x00, 0x00}) + DataRecord(0x0000, 1, 0x11) +
           Record(0x04, 0, {0x00, 0x01}) + DataRecord(0x0000, 1, 0x22) + kEndOfFile);
  ASSERT_TRUE(linear.Ok()) << linear.loadError;
  EXPECT_EQ(linear.At(0x00000), 0x11);
  EXPECT_EQ(linear.At(0x00001), 0xFF);
  EXPECT_EQ(linear.At(0x10000), 0x22);
  EXPECT_EQ(linear.Written(), 2u);

  struct Case {
    std::string address;
    std::string error;
  };
  const std::vector<Case> outside = {
      {Record(0x04, 0, {0x00, 0x02}),
       "line 2: extended linear address 0x0002 refused: only 0x0000 and 0x0001 select a bank of "
       "the 128 KB image"},
      {Record(0x04, 0, {0x80, 0x00}),
       "line 2: extended linear address 0x8000 refused: only 0x0000 and 0x0001 select a bank of "
       "the 128 KB image"},
      {Record(0x02, 0, {0x08, 0x00}),
       "line 2: extended segment address 0x0800 refused: only 0x0000 and 0x1000 select a bank of "
       "the 128 KB image"},
      {Record(0x02, 0, {0x10, 0x01}),
       "line 2: extended segment address 0x1001 refused: only 0x0000 and 0x1000 select a bank of "
       "the 128 KB image"},
      {Record(0x02, 0, {0x10}),
       "line 2: address record of type 0x02 with 1 data bytes instead of 2"},
  };
  for (const Case& c : outside) {
    const auto result = Load(DataRecord(0, 1) + c.address + DataRecord(0, 1) + kEndOfFile);
    EXPECT_TRUE(result.checked);
    EXPECT_EQ(result.loaded, HexLoadResult::HexError);
    EXPECT_EQ(result.loadError, c.error);
  }
}

TEST(HexBanks, RecordRunningPastTheLowerBankGoesOnInTheUpperBank) {
  const auto wrap = Load(DataRecord(0xFFF8, 16, 0x40) + DataRecord(0x0100, 1, 0x99) + kEndOfFile);
  ASSERT_TRUE(wrap.Ok()) << wrap.loadError;
  EXPECT_EQ(wrap.At(0x0FFF8), 0x40);
  EXPECT_EQ(wrap.At(0x0FFFF), 0x47);
  EXPECT_EQ(wrap.At(0x10000), 0x48);
  EXPECT_EQ(wrap.At(0x10007), 0x4F);
  EXPECT_EQ(wrap.At(0x00000), 0xFF);  // nothing written over the start of the lower bank
  EXPECT_EQ(wrap.At(0x10100), 0x99);  // later records go to the upper bank
  EXPECT_EQ(wrap.At(0x00100), 0xFF);
  EXPECT_EQ(wrap.state.UpperBank, 1);
  EXPECT_EQ(ImagePageCount(wrap.state), 0x101u + 1);

  // The last record itself wrapping: the pages cover its bytes in the upper bank.
  const auto lastWraps = Load(DataRecord(0xFFF8, 16) + kEndOfFile);
  ASSERT_TRUE(lastWraps.Ok());
  EXPECT_EQ(lastWraps.state.LastDataAddress, 0xFFF8);
  EXPECT_EQ(ImagePageCount(lastWraps.state), 257u);

  // A record that ends exactly at 0xFFFF runs past nothing: the next record's address 0 is the
  // lower bank's.
  const auto endsAtTop =
      Load(DataRecord(0xFFF0, 16, 0x60) + DataRecord(0x0000, 1, 0x77) + kEndOfFile);
  ASSERT_TRUE(endsAtTop.Ok());
  EXPECT_EQ(endsAtTop.At(0x00000), 0x77);
  EXPECT_EQ(endsAtTop.At(0x10000), 0xFF);
  EXPECT_EQ(endsAtTop.state.UpperBank, 0);
  EXPECT_EQ(ImagePageCount(endsAtTop.state), 256u);

  // The upper bank filled to its last byte is fine; running past it is a HEX error, and
  // nothing wraps onto the start of the upper bank.
  const std::string upper = Record(0x04, 0, {0x00, 0x01});
  const auto full = Load(upper + DataRecord(0xFFF0, 16) + kEndOfFile);
  ASSERT_TRUE(full.Ok());
  EXPECT_EQ(full.At(0x1FFFF), 0x1F);
  EXPECT_EQ(ImagePageCount(full.state), 512u);
  const auto past = Load(upper + DataRecord(0xFFF8, 16) + kEndOfFile);
  EXPECT_EQ(past.loaded, HexLoadResult::HexError);
  EXPECT_EQ(
      past.loadError,
      "line 2: data record at 0xFFF8 of the upper bank runs past the end of the 128 KB image");
}

TEST(HexPages, PageCountCoversEveryLoadedByte) {
  struct Row {
    std::string file;
    unsigned pages;
  };
  const std::string upper = Record(0x02, 0, {0x10, 0x00});
  const std::vector<Row> rows = {
      {DataRecord(0x7FF0, 16), 128},          // 0x00000-0x07FFF
      {DataRecord(0x1FFF, 1), 32},            // the byte at 0x1FFF is covered
      {DataRecord(0x1FF8, 16), 33},           // bytes 0x2000-0x2007 are covered
      {upper + DataRecord(0x3FF0, 16), 320},  // 0x00000-0x13FFF
      {DataRecord(0x00FF, 1), 1},
      {DataRecord(0x0100, 1), 2},
      // Records out of order: the highest one counts, not the last one.
      {DataRecord(0x4000, 16) + DataRecord(0x0000, 16), 0x41},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    const auto loaded = Load(row.file + kEndOfFile);
    ASSERT_TRUE(loaded.Ok()) << loaded.loadError;
    EXPECT_EQ(ImagePageCount(loaded.state), row.pages);
  }
  const auto last = Load(DataRecord(0x4000, 16) + DataRecord(0x0120, 4) + kEndOfFile);
  EXPECT_EQ(last.state.LastDataAddress, 0x0120);
  EXPECT_EQ(ImagePageCount(HexLoadState{}), 0u);
}

TEST(HexPages, BlockCountRoundsUp) {
  EXPECT_EQ(DownloadBlockCount(128, 256), 128u);
  EXPECT_EQ(DownloadBlockCount(128, 512), 64u);
  EXPECT_EQ(DownloadBlockCount(320, 512), 160u);
  EXPECT_EQ(DownloadBlockCount(33, 512), 17u);  // the odd page is sent
  EXPECT_EQ(DownloadBlockCount(1, 512), 1u);
  EXPECT_EQ(DownloadBlockCount(512, 512), 256u);
  EXPECT_EQ(DownloadBlockCount(3, 128), 6u);
  EXPECT_EQ(DownloadBlockCount(3, 1024), 1u);
  EXPECT_EQ(DownloadBlockCount(0, 256), 0u);
  EXPECT_EQ(DownloadBlockCount(5, 0), 0u);
}

namespace {

// Keeps every maximum and position it is given.
class RecordedProgress final : public TProgressSteps {
 public:
  void SetMax(int maximum) override { maxima.push_back(maximum); }
  void SetPosition(int position) override {
    current = position;
    highest = std::max(highest, position);
  }
  int Position() const override { return current; }
  std::vector<int> maxima;
  int current = -1;
  int highest = -1;
};

}  // namespace

TEST(HexProgress, PassesStepOncePerLine) {
  std::string file;
  for (unsigned i = 0; i < 100; ++i) file += DataRecord(static_cast<std::uint16_t>(16 * i), 16);
  file += kEndOfFile + DataRecord(0, 1);  // checked, not loaded
  ASSERT_EQ(file.size(), 100 * 45 + 13 + 15u);

  RecordedProgress check;
  EXPECT_TRUE(CheckHexFile(file, check));
  EXPECT_EQ(check.maxima, std::vector<int>{4});  // size / 1000
  EXPECT_EQ(check.highest, 102);
  EXPECT_EQ(check.current, 0);

  RecordedProgress failed;
  EXPECT_FALSE(CheckHexFile(file + "x", failed));
  EXPECT_EQ(failed.highest, 102);
  EXPECT_EQ(failed.current, 0);

  RecordedProgress load;
  auto image = std::make_unique<FirmwareImageBytes>();
  HexLoadState state;
  EXPECT_EQ(LoadHexImage(file, *image, state, load), HexLoadResult::Ok);
  EXPECT_EQ(load.maxima, std::vector<int>{100});  // size / 45
  EXPECT_EQ(load.current, 101);
}
