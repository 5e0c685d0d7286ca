// The image loader and Velkup's frames: pure logic, on the worked cases of the file format.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "Frames.h"
#include "HexWriter.h"
#include "ImageFile.h"

using namespace velkup;

using zelnet::test::HexImage;
using zelnet::test::LinearRecord;
using zelnet::test::PatternByte;
using zelnet::test::Record;

namespace {

struct Loaded {
  TImageMemory memory = TImageMemory(kImageMemorySize, 0xFF);
  THexResult result;
};

Loaded Load(const std::string& text) {
  Loaded l;
  TMemorySource src(text);
  l.result = ReadHexStream(src, l.memory.data(), l.memory.size());
  return l;
}

std::vector<uint8_t> At(const TImageMemory& m, uint32_t address, size_t n) {
  return {m.begin() + address, m.begin() + address + n};
}

bool AllFF(const TImageMemory& m) {
  return std::all_of(m.begin(), m.end(), [](uint8_t b) { return b == 0xFF; });
}

const std::vector<uint8_t> k16 = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                                  0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};

}  // namespace

TEST(ImageFile, EmptyTextAndLoneEndRecordLeaveEveryByteFF) {
  for (const char* text : {"", ":00000001FF\r\n", "\r\n\n\r", ":00000001FF"}) {
    Loaded l = Load(text);
    EXPECT_EQ(l.result.outcome, THexOutcome::EndOfStream) << text;
    EXPECT_TRUE(AllFF(l.memory)) << text;
  }
}

TEST(ImageFile, AddressesFollowTheAccumulatorRules) {
  // Extended linear address 0x0001, then offset 0xB000: stored at 0x1B000.
  Loaded l = Load(LinearRecord(1, "\n") + Record(0, 0xB000, {1, 2, 3}, "\n"));
  EXPECT_EQ(At(l.memory, 0x1B000, 3), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(l.memory[0xB000], 0xFF);

  // 16 bytes at 0xFFF8 run past 64 KB; the next record at 0x0000 lands at 0x10000.
  l = Load(Record(0, 0xFFF8, k16, "\r\n") + Record(0, 0x0000, {0xAA, 0xBB}, "\r\n"));
  EXPECT_EQ(At(l.memory, 0xFFF8, 8), std::vector<uint8_t>(k16.begin(), k16.begin() + 8));
  EXPECT_EQ(At(l.memory, 0x10000, 8),
            (std::vector<uint8_t>{0xAA, 0xBB, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F}));
  EXPECT_NE(l.memory[0x0000], 0xAA);

  // Extended segment address 0x1000: bits 4..19, so offset 0x0010 lands at 0x10010.
  l = Load(Record(2, 0, {0x10, 0x00}, "\n") + Record(0, 0x0010, {0x5A}, "\n"));
  EXPECT_EQ(l.memory[0x10010], 0x5A);

  // A record of another type counts only for its checksum.
  l = Load(Record(3, 0, {0x12, 0x34, 0x56, 0x78}, "\n") + Record(0, 0x20, {7}, "\n"));
  EXPECT_EQ(l.result.outcome, THexOutcome::EndOfStream);
  EXPECT_EQ(l.memory[0x20], 7);
}

TEST(ImageFile, OnlyAnEndRecordWithACountStopsTheLoad) {
  Loaded l = Load(Record(0, 0xB000, {1}, "") + "\n:00000001FF\n" + Record(0, 0xB001, {2}, "\n"));
  EXPECT_EQ(l.result.outcome, THexOutcome::EndOfStream);
  EXPECT_EQ(At(l.memory, 0xB000, 2), (std::vector<uint8_t>{1, 2}));

  l = Load(Record(0, 0xB000, {1}, "\n") + Record(1, 0, {0}, "\n") + Record(0, 0xB001, {2}, "\n"));
  EXPECT_EQ(l.result.outcome, THexOutcome::EndRecord);
  EXPECT_FALSE(l.result.Malformed());
  EXPECT_EQ(l.result.line, 2u);
  EXPECT_EQ(l.memory[0xB001], 0xFF);
}

TEST(ImageFile, MalformedLinesStopTheLoadAndNameTheirLine) {
  const std::string good = Record(0, 0xB000, {1, 2}, "");
  struct Case {
    std::string text;
    THexOutcome outcome;
    uint32_t line;
  } cases[] = {
      // 32 data bytes: too long at the 44th character, after 17 data bytes were stored.
      {good + "\r\n" + Record(0, 0xC000, std::vector<uint8_t>(32, 0x33), "\r\n"),
       THexOutcome::LineTooLong, 2},
      // Lowercase digits decode to other bytes and fail the checksum.
      {good + "\n\n:01B10000abA3\n", THexOutcome::BadChecksum, 3},
      {good + "\n :00000001FF\n", THexOutcome::NoColon, 2},
      {good + "\nX\n", THexOutcome::NoColon, 2},
      {good + "\r\n" + good.substr(0, good.size() - 1) + "0\r\n", THexOutcome::BadChecksum, 2},
      // The last line is checked even without a line end.
      {good + "\n" + good.substr(0, good.size() - 1) + "0", THexOutcome::BadChecksum, 2},
      // A record cut short: its checksum byte never came.
      {good + "\n:0300000001FC\n", THexOutcome::ShortRecord, 2},
      {good + "\n:\n", THexOutcome::ShortRecord, 2},
  };
  for (const Case& c : cases) {
    Loaded l = Load(c.text);
    EXPECT_EQ(l.result.outcome, c.outcome) << c.text;
    EXPECT_EQ(l.result.line, c.line) << c.text;
    EXPECT_TRUE(l.result.Malformed());
    EXPECT_EQ(At(l.memory, 0xB000, 2), (std::vector<uint8_t>{1, 2})) << c.text;
  }
  Loaded l = Load(cases[0].text);
  EXPECT_EQ(At(l.memory, 0xC000, 17), std::vector<uint8_t>(17, 0x33));
  EXPECT_EQ(l.memory[0xC000 + 17], 0xFF);
  // "ab": 'a' counts as 42 and 'b' as 43, so the byte stored is (42 * 16 + 43) mod 256.
  l = Load(cases[1].text);
  EXPECT_EQ(l.memory[0xB100], (42 * 16 + 43) % 256);
}

TEST(ImageFile, BytesPastTheImageMemoryAreSkipped) {
  // 3,000,000 = 0x2DC6C0: a record at 0x2DC6B8 keeps its first 8 bytes only.
  Loaded l =
      Load(LinearRecord(0x002D, "\n") + Record(0, 0xC6B8, k16, "\n") + LinearRecord(0xFFFF, "\n") +
           Record(0, 0xFFF0, k16, "\n") + LinearRecord(0, "\n") + Record(0, 0xB000, {9}, "\n"));
  EXPECT_EQ(l.result.outcome, THexOutcome::EndOfStream);
  EXPECT_EQ(At(l.memory, 0x2DC6B8, 8), std::vector<uint8_t>(k16.begin(), k16.begin() + 8));
  EXPECT_EQ(l.result.storedBytes, 9u);
  EXPECT_EQ(l.result.skippedBytes, 24u);
  EXPECT_EQ(l.memory[0xB000], 9);
}

TEST(ImageFile, LoadImageFileReadsARealFileAndReportsWhatFails) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("image.vkf").toStdString();
  TImageMemory memory(kImageMemorySize, 0x00);

  TLoadResult r = LoadImageFile(path, memory);
  EXPECT_FALSE(r.opened);
  EXPECT_EQ(memory[0], 0x00);  // untouched
  EXPECT_EQ(DescribeLoadFailure(path, r), "Cannot open file " + path);
  EXPECT_FALSE(LoadImageFile("", memory).opened);
  EXPECT_FALSE(LoadImageFile(dir.path().toStdString(), memory).opened);

  std::ofstream(path) << HexImage(0xB000, 0xB100) << Record(0, 0xC000, {1}, "") << "\r\n:0\r\n";
  r = LoadImageFile(path, memory);
  EXPECT_TRUE(r.opened);
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(memory.size(), kImageMemorySize);
  EXPECT_EQ(memory[0], 0xFF);
  EXPECT_EQ(memory[0xB000], PatternByte(0xB000));
  EXPECT_EQ(DescribeLoadFailure(path, r),
            "The image file " + path +
                " is damaged at line 20: the line ends before its data and checksum. Nothing "
                "was sent.");

  std::ofstream(path) << HexImage(0xB000, 0xD000);
  r = LoadImageFile(path, memory);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.hex.storedBytes, 0x2000u);
  for (uint32_t a = 0xB000; a < 0xD000; ++a) ASSERT_EQ(memory[a], PatternByte(a));
}

TEST(ImageFile, SpecialAndOversizedFilesAreRefusedWithoutReadingThem) {
  QTemporaryDir dir;
  const std::string fifo = dir.filePath("fifo.vkf").toStdString();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // no writer: opening it for reading would block
  const std::string sparse = dir.filePath("sparse.vkf").toStdString();
  std::ofstream(sparse).close();
  std::filesystem::resize_file(sparse, kMaxImageFileSize + 1);
  // The same valid record over and over, one more line than the cap holds.
  const std::string repeated = dir.filePath("repeated.vkf").toStdString();
  {
    const std::string line = Record(0, 0xB000, k16, "\r\n");
    std::string chunk;
    for (int i = 0; i < 4096; ++i) chunk += line;
    std::ofstream out(repeated, std::ios::binary);
    for (uint64_t n = 0; n <= kMaxImageFileSize; n += chunk.size()) out << chunk;
  }

  const std::vector<std::pair<std::string, TFileRefusal>> cases = {
      {"/dev/zero", TFileRefusal::NotRegular}, {"/dev/urandom", TFileRefusal::NotRegular},
      {fifo, TFileRefusal::NotRegular},        {sparse, TFileRefusal::TooLarge},
      {repeated, TFileRefusal::TooLarge},
  };
  for (const auto& [path, refusal] : cases) {
    SCOPED_TRACE(path);
    TImageMemory memory(16, 0x00);
    size_t seen = 0;
    const TLoadResult r = LoadImageFile(path, memory, [&](const char*, size_t n) { seen += n; });
    EXPECT_TRUE(r.opened);
    EXPECT_EQ(r.refusal, refusal);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(memory, TImageMemory(16, 0x00));  // untouched
    const std::string text = DescribeLoadFailure(path, r);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.rfind("The image file " + path + " is ", 0), 0u) << text;
    EXPECT_NE(text.find(refusal == TFileRefusal::NotRegular ? "not a regular file"
                                                            : "larger than 45004891 bytes"),
              std::string::npos)
        << text;
  }
}

TEST(Frames, CheckCodeAndFramesMatchTheProtocol) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0, 0};
  EXPECT_EQ(CalcCrc16(digits, sizeof digits), 0x2189);

  uint8_t out[300];
  auto frame = [&](uint8_t address, std::vector<uint8_t> payload) {
    const size_t n = BuildFrame(address, payload.data(), payload.size(), out);
    return std::vector<uint8_t>(out, out + n);
  };
  using V = std::vector<uint8_t>;
  EXPECT_EQ(frame(3, {0x33}), (V{0x02, 0x03, 0x06, 0x33, 0xDA, 0x81}));
  EXPECT_EQ(frame(1, {0x33}), (V{0x02, 0x01, 0x06, 0x33, 0x62, 0x34}));
  EXPECT_EQ(frame(3, {0x00}), (V{0x02, 0x03, 0x06, 0x00, 0xC2, 0x82}));
  EXPECT_EQ(frame(3, {0x30}), (V{0x02, 0x03, 0x06, 0x30, 0x41, 0xB3}));
  EXPECT_EQ(frame(3, {0x34, 0, 0, 0, 0, 0, 0}),
            (V{0x02, 0x03, 0x0C, 0x34, 0, 0, 0, 0, 0, 0, 0x17, 0x0C}));

  TImageMemory memory(kImageMemorySize, 0xFF);
  for (uint32_t i = 0; i < 256; ++i) memory[0xB000 + i] = static_cast<uint8_t>(i);
  uint8_t payload[kWriteBlockPayloadSize];
  BuildWriteBlockPayload(0xB000, memory.data(), payload);
  const V block = frame(3, V(payload, payload + sizeof payload));
  ASSERT_EQ(block.size(), 268u);
  EXPECT_EQ(V(block.begin(), block.begin() + 10),
            (V{0x02, 0x03, 0x00, 0x50, 0x02, 0x01, 0x0C, 0x00, 0xB0, 0x00}));
  EXPECT_EQ(V(block.begin() + 10, block.begin() + 266), At(memory, 0xB000, 256));
  // The extended form's check code, taken by its own length field, is the one sent.
  const uint16_t crc = CalcCrc16(block.data(), 0);
  EXPECT_EQ(block[266], crc & 0xFF);
  EXPECT_EQ(block[267], crc >> 8);
  BuildWriteBlockPayload(0x7FF00, memory.data(), payload);
  EXPECT_EQ(V(payload + 4, payload + 7), (V{0x00, 0xFF, 0x07}));
}

TEST(Frames, TheAnswerReaderTakesTheFrameItsLengthDeclaresAndNoMore) {
  using V = std::vector<uint8_t>;
  struct Case {
    V line;       // what the validator sends
    size_t size;  // the reader's buffer
    std::vector<uint32_t> asked;
    size_t got;
  };
  V extended = {0x02, 0x03, 0x00, 0x01, 0x2C};
  extended.resize(300, 0x5A);
  const std::vector<Case> cases = {
      {{0x02, 0x03, 0x06, 0x19, 0xAA, 0xBB, 0xCC}, 8, {3, 3}, 6},  // a Poll answer, no wait
      {{0x02, 0x03, 0x06, 0xE0, 0xAA, 0xBB}, 6, {3, 3}, 6},
      {extended, 300, {3, 2, 295}, 300},
      {extended, 6, {3, 2, 1}, 6},            // bounded by the buffer, not by the frame
      {{0x02, 0x03, 0x02, 0x19}, 8, {3}, 3},  // a length below 3: the frame is over
      {{0x02, 0x03, 0x00, 0x00, 0x01, 0x77}, 8, {3, 2}, 5},
      {{0x02, 0x03}, 8, {3}, 2},  // fell silent
      {{}, 8, {3}, 0},
      {{0x02, 0x03, 0x09, 0x19}, 8, {3, 5}, 4},
      {{0x02, 0x03, 0x06, 0x19}, 2, {2}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.line).substr(0, 60) + " into " + std::to_string(c.size));
    std::vector<uint8_t> buffer(c.size + 8, 0x0C);
    size_t at = 0;
    std::vector<uint32_t> asked;
    const TReadBytes read = [&](uint8_t* into, uint32_t count) {
      asked.push_back(count);
      const size_t n = std::min<size_t>(count, c.line.size() - at);
      std::copy_n(c.line.begin() + static_cast<std::ptrdiff_t>(at), n, into);
      at += n;
      return static_cast<uint32_t>(n);
    };
    EXPECT_EQ(ReadAnswerFrame(read, buffer.data(), c.size), c.got);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(V(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(c.got)),
              V(c.line.begin(), c.line.begin() + static_cast<std::ptrdiff_t>(c.got)));
    if (c.size > 3 && c.got < 4) {
      EXPECT_EQ(buffer[3], 0);  // no older state left in byte 3
    }
    EXPECT_EQ(V(buffer.begin() + static_cast<std::ptrdiff_t>(c.size), buffer.end()), V(8, 0x0C));
  }
}

TEST(Frames, StrayCollectorCountsWholeFramesAndStaysInItsBuffer) {
  std::vector<uint8_t> buffer(kFrameBufferSize, 0);
  TStrayCollector c;
  const uint8_t answer[] = {0x02, 0x03, 0x07, 0x1C, 0x64, 0xAA, 0xBB};
  c.Add(buffer.data(), buffer.size(), answer, 2);
  EXPECT_EQ(c.Count(), 2);
  c.Add(buffer.data(), buffer.size(), answer + 2, 3);
  EXPECT_EQ(c.Count(), 5);
  c.Add(buffer.data(), buffer.size(), answer + 5, 2);
  EXPECT_EQ(c.Count(), 0);  // a whole frame of 7 bytes
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 7),
            std::vector<uint8_t>(answer, answer + 7));

  // A flood of bytes that never completes a frame stays inside the buffer.
  std::vector<uint8_t> flood(5000, 0xFF);
  flood[2] = 0;
  flood[5] = 0xFF;
  flood[6] = 0xFF;
  std::vector<uint8_t> guarded(kFrameBufferSize + 16, 0x11);
  c.Reset();
  c.Add(guarded.data(), kFrameBufferSize, flood.data(), static_cast<uint32_t>(flood.size()));
  EXPECT_EQ(c.Count(), 5000);
  EXPECT_EQ(guarded[kFrameBufferSize], 0x11);
  c.Add(guarded.data(), kFrameBufferSize, flood.data(), 0x10000 + 10);  // low 16 bits: 10 bytes
  EXPECT_EQ(c.Count(), 5010);
}
