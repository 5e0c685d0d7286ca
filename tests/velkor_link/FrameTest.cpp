// Frames, check code and trace text without a line.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "AnswerAssembler.h"
#include "Crc.h"
#include "Frame.h"

using namespace velkor;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Build(uint8_t code, Bytes data = {}) {
  Bytes frame(16, 0);
  std::copy(data.begin(), data.end(), frame.begin() + 4);
  const size_t length = BuildFrame(code, frame);
  frame.resize(length);
  return frame;
}

}  // namespace

TEST(CheckCode, IsKermitOverEverythingBeforeTheCheckBytes) {
  const uint8_t digits[11] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xAA, 0xBB};
  EXPECT_EQ(CalcCrc(digits, sizeof digits), 0x2189);
}

TEST(BuildFrame, GivesTheReferenceFrames) {
  EXPECT_EQ(Build(0x00), (Bytes{0x02, 0x03, 0x06, 0x00, 0xC2, 0x82}));
  EXPECT_EQ(Build(0x30), (Bytes{0x02, 0x03, 0x06, 0x30, 0x41, 0xB3}));
  EXPECT_EQ(Build(0x31), (Bytes{0x02, 0x03, 0x06, 0x31, 0xC8, 0xA2}));
  EXPECT_EQ(Build(0x33), (Bytes{0x02, 0x03, 0x06, 0x33, 0xDA, 0x81}));
  EXPECT_EQ(Build(0x37), (Bytes{0x02, 0x03, 0x06, 0x37, 0xFE, 0xC7}));
  EXPECT_EQ(Build(0x41), (Bytes{0x02, 0x03, 0x06, 0x41, 0x4F, 0xD1}));
  EXPECT_EQ(Build(0x60), (Bytes{0x02, 0x03, 0x06, 0x60, 0xC4, 0xE1}));
  EXPECT_EQ(Build(0x50), (Bytes{0x02, 0x03, 0x06, 0x50, 0x47, 0xD0}));
  EXPECT_EQ(Build(0x51), (Bytes{0x02, 0x03, 0x06, 0x51, 0xCE, 0xC1}));
  EXPECT_EQ(Build(0x35), (Bytes{0x02, 0x03, 0x06, 0x35, 0xEC, 0xE4}));
  EXPECT_EQ(Build(0x36), (Bytes{0x02, 0x03, 0x06, 0x36, 0x77, 0xD6}));
  EXPECT_EQ(Build(0x38), (Bytes{0x02, 0x03, 0x06, 0x38, 0x09, 0x3F}));
  EXPECT_EQ(Build(0x3A), (Bytes{0x02, 0x03, 0x06, 0x3A, 0x1B, 0x1C}));
  EXPECT_EQ(Build(0x32, {0, 0, 0}), (Bytes{0x02, 0x03, 0x09, 0x32, 0, 0, 0, 0x26, 0x1F}));
  EXPECT_EQ(Build(0x34, {0, 0, 0, 0, 0, 0}),
            (Bytes{0x02, 0x03, 0x0C, 0x34, 0, 0, 0, 0, 0, 0, 0x17, 0x0C}));
  EXPECT_EQ(Build(0x34, {0xFF, 0xFF, 0xFF, 0, 0, 0}),
            (Bytes{0x02, 0x03, 0x0C, 0x34, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0xB5, 0xC1}));
  EXPECT_EQ(Build(0x39, {0x01, 0x12}), (Bytes{0x02, 0x03, 0x08, 0x39, 0x01, 0x12, 0xB9, 0xC0}));
}

TEST(BuildFrame, TouchesOnlyTheHeaderAndCheckBytesOfAnOlderLongerFrame) {
  Bytes buffer(20);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(0xA0 + i);
  const Bytes before = buffer;
  ASSERT_EQ(BuildFrame(0x32, buffer), 9u);
  for (size_t i = 4; i < 7; ++i) EXPECT_EQ(buffer[i], before[i]) << i;
  for (size_t i = 9; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], before[i]) << i;
  const uint16_t crc = CalcCrc(buffer.data(), 9);
  EXPECT_EQ(buffer[7], crc & 0xFF);
  EXPECT_EQ(buffer[8], crc >> 8);
}

TEST(BuildFrame, SendsACodeOutsideTheTableAsASixByteRequest) {
  Bytes buffer(12, 0x55);  // stale bytes of an earlier, longer frame
  ASSERT_EQ(BuildFrame(0x62, buffer), 6u);
  const uint16_t crc = CalcCrc(buffer.data(), 6);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6),
            (Bytes{0x02, 0x03, 0x06, 0x62, uint8_t(crc & 0xFF), uint8_t(crc >> 8)}));
}

TEST(BuildFrame, RefusesABufferTooSmallForTheRequest) {
  Bytes buffer(8, 0x55);
  EXPECT_EQ(BuildFrame(0x34, buffer), 0u);
  EXPECT_EQ(buffer, Bytes(8, 0x55));
}

TEST(TraceLine, ListsTheBytesUpToTheLengthByteWithinTheBuffer) {
  EXPECT_EQ(TraceLine("-> ", Bytes{0x02, 0x03, 0x06, 0x33, 0xDA, 0x81}),
            "-> 02, 03, 06, 33, DA, 81, ");
  EXPECT_EQ(TraceLine("<- ", Bytes{0x02, 0x03, 0x00, 0x01, 0x2C, 0x00}), "<- ");
  // A length byte beyond the buffer stops at its end.
  EXPECT_EQ(TraceLine("<- ", Bytes{0x02, 0x03, 0xF0, 0x10}), "<- 02, 03, F0, 10, ");
}

TEST(AnswerAssembler, EndsAtTheAnnouncedLengthOrRefusesWhatCannotBeAFrame) {
  struct Case {
    Bytes head;
    size_t buffer;
    AnswerAssembler::Step at5;
  } cases[] = {
      {{0x02, 0x03, 0x05, 0x10, 0x20}, 16, AnswerAssembler::Step::Complete},   // 5 bytes: reachable
      {{0x02, 0x03, 0x04, 0x10, 0x20}, 16, AnswerAssembler::Step::Malformed},  // below 5
      {{0x02, 0x03, 0x00, 0x00, 0x05}, 16, AnswerAssembler::Step::Malformed},  // extended below 6
      {{0x02, 0x03, 0x20, 0x10, 0x20}, 16, AnswerAssembler::Step::Malformed},  // beyond the buffer
      {{0x02, 0x03, 0x00, 0x01, 0x2C}, 300, AnswerAssembler::Step::More},      // 300-byte answer
  };
  for (const Case& c : cases) {
    Bytes buffer(c.buffer, 0xEE);
    AnswerAssembler a(buffer, ZelnetFraming());
    AnswerAssembler::Step step = AnswerAssembler::Step::More;
    for (uint8_t b : c.head) step = a.Push(b);
    EXPECT_EQ(step, c.at5) << int(c.head[2]) << " buffer " << c.buffer;
    for (size_t i = 5; i < c.buffer; ++i) EXPECT_EQ(buffer[i], 0xEE);
  }
  // A buffer shorter than the five bytes that announce the length is never overrun.
  Bytes tiny(3);
  AnswerAssembler a(tiny, ZelnetFraming());
  EXPECT_EQ(a.Push(0x02), AnswerAssembler::Step::More);
  EXPECT_EQ(a.Push(0x03), AnswerAssembler::Step::More);
  EXPECT_EQ(a.Push(0x06), AnswerAssembler::Step::Malformed);
  EXPECT_EQ(a.Push(0x00), AnswerAssembler::Step::Malformed);
}
