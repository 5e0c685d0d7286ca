// The simulator's own frame code: check codes against the reference frames and the receiver's
// resynchronisation on damaged input.
#include <gtest/gtest.h>

#include <string>

#include "frame.h"

using bvsim::AppendCheckCode;
using bvsim::MakeBlockRequest;
using bvsim::MakeRequest;
using Bytes = std::vector<uint8_t>;

TEST(BvsimFrame, ChecksumsMatchReferenceFramesAndPublishedCheckValues) {
  const std::string digits = "123456789";
  Bytes d(digits.begin(), digits.end());
  EXPECT_EQ(bvsim::Crc16(d), 0x2189);
  AppendCheckCode(d);
  EXPECT_EQ(d[9], 0x89);  // low byte first
  EXPECT_EQ(d[10], 0x21);
  EXPECT_EQ(bvsim::Crc32(Bytes(digits.begin(), digits.end())), 0xCBF43926u);

  EXPECT_EQ(MakeRequest(3, 0x33), (Bytes{0x02, 0x03, 0x06, 0x33, 0xDA, 0x81}));
  EXPECT_EQ(MakeRequest(1, 0x33), (Bytes{0x02, 0x01, 0x06, 0x33, 0x62, 0x34}));
  EXPECT_EQ(MakeRequest(3, 0x30), (Bytes{0x02, 0x03, 0x06, 0x30, 0x41, 0xB3}));
  EXPECT_EQ(MakeRequest(3, 0x00), (Bytes{0x02, 0x03, 0x06, 0x00, 0xC2, 0x82}));
  EXPECT_EQ(MakeRequest(3, 0x31), (Bytes{0x02, 0x03, 0x06, 0x31, 0xC8, 0xA2}));
  EXPECT_EQ(MakeRequest(3, 0x37), (Bytes{0x02, 0x03, 0x06, 0x37, 0xFE, 0xC7}));
  EXPECT_EQ(MakeRequest(3, 0x41), (Bytes{0x02, 0x03, 0x06, 0x41, 0x4F, 0xD1}));
  EXPECT_EQ(MakeRequest(3, 0x60), (Bytes{0x02, 0x03, 0x06, 0x60, 0xC4, 0xE1}));
  EXPECT_EQ(MakeRequest(3, 0x32, {0, 0, 0}),
            (Bytes{0x02, 0x03, 0x09, 0x32, 0x00, 0x00, 0x00, 0x26, 0x1F}));
  EXPECT_EQ(MakeRequest(3, 0x34, {0, 0, 0, 0, 0, 0}),
            (Bytes{0x02, 0x03, 0x0C, 0x34, 0, 0, 0, 0, 0, 0, 0x17, 0x0C}));
  EXPECT_EQ(MakeRequest(3, 0x34, {0xFF, 0xFF, 0xFF, 0, 0, 0}),
            (Bytes{0x02, 0x03, 0x0C, 0x34, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0xB5, 0xC1}));
  EXPECT_EQ(MakeRequest(3, 0x39, {0x01, 0x12}),
            (Bytes{0x02, 0x03, 0x08, 0x39, 0x01, 0x12, 0xB9, 0xC0}));
  EXPECT_EQ(MakeRequest(3, 0x50), (Bytes{0x02, 0x03, 0x06, 0x50, 0x47, 0xD0}));
  EXPECT_EQ(MakeRequest(3, 0x50, {0x00}), (Bytes{0x02, 0x03, 0x07, 0x50, 0x00, 0xB7, 0x6C}));
  EXPECT_EQ(MakeRequest(3, 0x50, {0x01}), (Bytes{0x02, 0x03, 0x07, 0x50, 0x01, 0x3E, 0x7D}));
  EXPECT_EQ(MakeRequest(3, 0x50, {0x03}), (Bytes{0x02, 0x03, 0x07, 0x50, 0x03, 0x2C, 0x5E}));
  EXPECT_EQ(MakeRequest(3, 0x51), (Bytes{0x02, 0x03, 0x06, 0x51, 0xCE, 0xC1}));

  const Bytes block = MakeBlockRequest(3, 0xB000, Bytes(256, 0xFF));
  ASSERT_EQ(block.size(), 268u);
  EXPECT_EQ(Bytes(block.begin(), block.begin() + 10),
            (Bytes{0x02, 0x03, 0x00, 0x50, 0x02, 0x01, 0x0C, 0x00, 0xB0, 0x00}));
  EXPECT_TRUE(bvsim::CheckCodeOk(block));
  Bytes swapped = block;
  std::swap(swapped[266], swapped[267]);
  EXPECT_FALSE(bvsim::CheckCodeOk(swapped));

  const Bytes longAnswer = bvsim::MakeAnswer(3, Bytes(293, 0x55));
  ASSERT_EQ(longAnswer.size(), 300u);
  EXPECT_EQ(longAnswer[2], 0);
  EXPECT_EQ(longAnswer[3], 0x01);
  EXPECT_EQ(longAnswer[4], 0x2C);
  EXPECT_EQ(bvsim::AnnouncedAnswerLength(longAnswer), 300u);
}

namespace {

std::vector<bvsim::RequestReader::Result> FeedAll(bvsim::RequestReader& r, const Bytes& b) {
  std::vector<bvsim::RequestReader::Result> out;
  r.Feed(b.data(), b.size(), std::chrono::steady_clock::now(), out);
  return out;
}

}  // namespace

TEST(BvsimFrame, ReaderSkipsGarbageAndRecoversFromDamagedFrames) {
  const Bytes poll = MakeRequest(3, 0x33);
  bvsim::RequestReader r;

  // Stray bytes, a stray 0x02 and a byte-by-byte frame.
  Bytes in = {0xFF, 0x00, 0x02};
  in.insert(in.end(), poll.begin(), poll.end());
  auto got = FeedAll(r, in);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].crcOk);
  EXPECT_EQ(got[0].bytes, poll);
  got.clear();
  for (uint8_t b : poll) {
    auto part = FeedAll(r, {b});
    got.insert(got.end(), part.begin(), part.end());
  }
  ASSERT_EQ(got.size(), 1u);
  EXPECT_FALSE(r.Partial());

  // A frame with a wrong check code is reported as such.
  Bytes bad = poll;
  bad[5] ^= 1;
  got = FeedAll(r, bad);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_FALSE(got[0].crcOk);
  EXPECT_FALSE(r.Partial());

  // A truncated frame directly followed by a whole one: the whole one is still found.
  Bytes cut(poll.begin(), poll.begin() + 4);
  cut.insert(cut.end(), poll.begin(), poll.end());
  got = FeedAll(r, cut);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_FALSE(got[0].crcOk);
  EXPECT_TRUE(got[1].crcOk);
  EXPECT_EQ(got[1].bytes, poll);

  // A frame announcing 70 bytes that holds a whole frame and junk, then another frame: both
  // whole frames are found and the junk is not taken for a frame start.
  Bytes holder = {0x02, 0x03, 70};
  holder.insert(holder.end(), poll.begin(), poll.end());
  holder.resize(70, 0x46);
  holder.insert(holder.end(), poll.begin(), poll.end());
  got = FeedAll(r, holder);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_FALSE(got[0].crcOk);
  EXPECT_EQ(got[1].bytes, poll);
  EXPECT_EQ(got[2].bytes, poll);
  EXPECT_FALSE(r.Partial());

  // An extended block request, and a partial one handed back.
  const Bytes block = MakeBlockRequest(3, 0x100, Bytes(256, 0x02));
  got = FeedAll(r, block);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].crcOk);
  FeedAll(r, Bytes(block.begin(), block.begin() + 20));
  EXPECT_TRUE(r.Partial());
  bvsim::RequestReader::Result partial;
  ASSERT_TRUE(r.TakePartial(partial));
  EXPECT_EQ(partial.bytes.size(), 20u);
  EXPECT_FALSE(r.Partial());
}
