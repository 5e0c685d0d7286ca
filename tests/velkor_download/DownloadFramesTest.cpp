// The download's frames: the fixed sub-command requests, block frames for 256- and 512-byte
// blocks, the block size bound of the request buffer, blank blocks, answers and the result lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "Crc.h"
#include "DownloadFrames.h"
#include "DownloadTexts.h"

using namespace velkor;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Request(std::uint8_t subCode) {
  std::array<std::uint8_t, kDownloadRequestBufferSize> buffer{};
  const std::size_t n = BuildDownloadRequest(subCode, buffer);
  return Bytes(buffer.begin(), buffer.begin() + static_cast<long>(n));
}

std::unique_ptr<FirmwareImageBytes> NumberedImage() {
  auto image = std::make_unique<FirmwareImageBytes>();
  for (std::size_t i = 0; i < image->size(); ++i) (*image)[i] = static_cast<std::uint8_t>(i * 7);
  return image;
}

}  // namespace

TEST(DownloadFrames, SubCommandRequestsAreTheFixedFrames) {
  EXPECT_EQ(Request(DownloadStart), (Bytes{0x02, 0x03, 0x07, 0x50, 0x00, 0xB7, 0x6C}));
  EXPECT_EQ(Request(DownloadQueryBlockSize), (Bytes{0x02, 0x03, 0x07, 0x50, 0x01, 0x3E, 0x7D}));
  EXPECT_EQ(Request(DownloadFinish), (Bytes{0x02, 0x03, 0x07, 0x50, 0x03, 0x2C, 0x5E}));
  std::array<std::uint8_t, 6> tooSmall{};
  EXPECT_EQ(BuildDownloadRequest(DownloadStart, tooSmall), 0u);
}

TEST(DownloadFrames, BlockFrameCarriesLengthHighFirstAndAddressLowFirst) {
  const auto image = NumberedImage();
  std::array<std::uint8_t, kDownloadRequestBufferSize> frame{};

  ASSERT_EQ(BuildBlockFrame(frame, *image, 0x7F00, 256), 268u);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 10),
            (Bytes{0x02, 0x03, 0x00, 0x50, 0x02, 0x01, 0x0C, 0x00, 0x7F, 0x00}));
  EXPECT_TRUE(std::equal(frame.begin() + 10, frame.begin() + 266, image->begin() + 0x7F00));
  const std::uint16_t crc = CalcCrc(frame.data(), 268);
  EXPECT_EQ(frame[266], crc & 0xFF);
  EXPECT_EQ(frame[267], crc >> 8);

  // A 320-page image with 512-byte blocks: the last of 160 blocks lies at 0x13E00.
  EXPECT_EQ(DownloadBlockCount(320, 512), 160u);
  ASSERT_EQ(BuildBlockFrame(frame, *image, 159 * 512, 512), 524u);
  EXPECT_EQ(Bytes(frame.begin() + 5, frame.begin() + 10), (Bytes{0x02, 0x0C, 0x00, 0x3E, 0x01}));
  EXPECT_TRUE(std::equal(frame.begin() + 10, frame.begin() + 522, image->begin() + 0x13E00));
  // The last block of the image.
  EXPECT_EQ(BuildBlockFrame(frame, *image, 0x1FE00, 512), 524u);
}

TEST(DownloadFrames, BlocksThatDoNotFitAreNeverBuilt) {
  const auto image = NumberedImage();
  std::array<std::uint8_t, kDownloadRequestBufferSize + 16> frame{};
  frame.fill(0xAA);
  EXPECT_EQ(BuildBlockFrame(std::span(frame).first(kDownloadRequestBufferSize), *image, 0, 1024),
            0u);
  EXPECT_EQ(BuildBlockFrame(frame, *image, 0, 0), 0u);
  EXPECT_EQ(BuildBlockFrame(frame, *image, 0x1FF00, 512), 0u);  // past the image's end
  EXPECT_EQ(BuildBlockFrame(std::span(frame).first(267), *image, 0, 256), 0u);
  EXPECT_TRUE(std::all_of(frame.begin(), frame.end(), [](std::uint8_t b) { return b == 0xAA; }));

  EXPECT_EQ(BlockSizeFromAnswer(8), 256u);
  EXPECT_EQ(BlockSizeFromAnswer(9), 512u);
  EXPECT_EQ(BlockSizeFromAnswer(10), 1024u);  // above kMaxDownloadBlockSize: the download stops
  EXPECT_EQ(BlockSizeFromAnswer(40), 256u);   // e modulo 32
  EXPECT_EQ(BlockSizeFromAnswer(31), 0x80000000u);
}

TEST(DownloadFrames, BlankBlocksAnswersAndTexts) {
  auto image = std::make_unique<FirmwareImageBytes>();
  image->fill(0xFF);
  (*image)[0x1FF] = 0x00;
  EXPECT_FALSE(IsBlankBlock(*image, 0x000, 512));
  EXPECT_TRUE(IsBlankBlock(*image, 0x000, 256));
  EXPECT_FALSE(IsBlankBlock(*image, 0x100, 256));
  EXPECT_TRUE(IsBlankBlock(*image, 0x200, 256));
  EXPECT_TRUE(IsBlankBlock(*image, 0x20000, 256));

  const Bytes accepted = {0x02, 0x03, 0x06, 0xE0, 0x00, 0x00};
  const Bytes refused = {0x02, 0x03, 0x06, 0xE1, 0x00, 0x00};
  const Bytes noSync = {0x03, 0x03, 0x06, 0xE0, 0x00, 0x00};
  EXPECT_TRUE(IsDownloadAccepted(6, accepted));
  EXPECT_FALSE(IsDownloadAccepted(-1, accepted));
  EXPECT_FALSE(IsDownloadAccepted(6, refused));
  EXPECT_FALSE(IsDownloadAccepted(6, noSync));
  EXPECT_FALSE(IsDownloadAccepted(6, Bytes{0x02, 0x03}));
  EXPECT_TRUE(IsDownloadAnswer(6, refused));
  EXPECT_FALSE(IsDownloadAnswer(6, noSync));
  EXPECT_FALSE(IsDownloadAnswer(0, refused));

  EXPECT_EQ(DownloadResultLine(dlOk), "Proramming - OK!");
  EXPECT_EQ(DownloadResultLine(dlExchangeError), "ERROR exchange with BV!!!");
  EXPECT_EQ(DownloadResultLine(dlHexError), "ERROR HEX-FILE!!!");
}
