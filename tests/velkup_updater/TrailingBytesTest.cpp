// The loader on files that carry bytes after their end record: what old tools pad a file with
// is accepted, anything else is still a damaged file.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "HexWriter.h"
#include "ImageFile.h"

using namespace velkup;

using zelnet::test::HexImage;
using zelnet::test::PatternByte;
using zelnet::test::Record;

namespace {

THexResult Load(const std::string& text, TImageMemory& memory) {
  memory.assign(kImageMemorySize, 0xFF);
  TMemorySource src(text);
  return ReadHexStream(src, memory.data(), memory.size());
}

const std::string kBody = Record(0, 0xB000, {1, 2, 3, 4}) + Record(0, 0xB004, {5, 6});

}  // namespace

TEST(TrailingBytes, FillerAfterTheLastEndRecordIsAccepted) {
  const std::string nuls(512, '\0');
  const struct {
    const char* what;
    std::string tail;
    uint32_t filler;
  } cases[] = {
      {"Ctrl-Z", ":00000001FF\r\n\x1A", 1},
      {"spaces", ":00000001FF\r\n   ", 3},
      {"NUL padding", ":00000001FF\r\n" + nuls, 512},
      {"blank lines with spaces", ":00000001FF\n  \n \t\n\n", 4},
      {"blanks on the end record's line", ":00000001FF  \r\n\x1A", 3},
      {"Ctrl-Z without a line end", ":00000001FF\x1A\x1A", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TImageMemory m;
    const THexResult r = Load(kBody + c.tail, m);
    EXPECT_FALSE(r.Malformed()) << static_cast<int>(r.outcome) << " line " << r.line;
    EXPECT_EQ(r.trailingBytes, c.filler);
    EXPECT_EQ(r.storedBytes, 6u);
    EXPECT_EQ(m[0xB000], 1);
    EXPECT_EQ(m[0xB005], 6);
    EXPECT_EQ(m[0xB006], 0xFF);
  }
}

TEST(TrailingBytes, DamageAnywhereElseStillRefusesTheFile) {
  const struct {
    const char* what;
    std::string text;
    THexOutcome outcome;
    uint32_t line;
  } cases[] = {
      // Filler where records are still expected.
      {"Ctrl-Z before the end record", kBody + "\x1A\r\n:00000001FF\r\n", THexOutcome::NoColon, 3},
      {"spaces on a line before the end record", kBody + "  \r\n:00000001FF\r\n",
       THexOutcome::NoColon, 3},
      {"filler without any end record", kBody + "\x1A", THexOutcome::NoColon, 3},
      {"filler after a data record behind the end record",
       kBody + ":00000001FF\r\n" + Record(0, 0xB010, {9}) + "\x1A", THexOutcome::NoColon, 5},
      // After the end record, bytes that are no filler.
      {"a record behind the filler", kBody + ":00000001FF\r\n\x1A\r\n" + Record(0, 0xB010, {9}, ""),
       THexOutcome::NoColon, 5},
      {"text behind the end record", kBody + ":00000001FF\r\nend\r\n", THexOutcome::NoColon, 4},
      {"a damaged record behind the end record", kBody + ":00000001FF\r\n:10B10000FF\r\n",
       THexOutcome::BadChecksum, 4},
      {"a damaged end record with filler", kBody + ":00000001FE \r\n", THexOutcome::BadChecksum, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TImageMemory m;
    const THexResult r = Load(c.text, m);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.line, c.line);
    EXPECT_TRUE(r.Malformed());
  }
}

TEST(TrailingBytes, AFileWithFillerLoadsWholeAndItsBytesAreAllSeen) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("padded.vkf").toStdString();
  const std::string text = HexImage(0xB000, 0xB100) + "\x1A" + std::string(100, '\0');
  std::ofstream(file, std::ios::binary) << text;
  TImageMemory m;
  size_t seen = 0;
  const TLoadResult r = LoadImageFile(file, m, [&](const char*, size_t n) { seen += n; });
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.hex.trailingBytes, 101u);
  EXPECT_EQ(seen, text.size());
  EXPECT_EQ(m[0xB0FF], PatternByte(0xB0FF));
}
