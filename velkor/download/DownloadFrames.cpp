#include "DownloadFrames.h"

#include <algorithm>

namespace velkor {
namespace {

constexpr std::size_t kRequestSize = 7;

}  // namespace

std::size_t BuildDownloadRequest(std::uint8_t subCode, std::span<std::uint8_t> frame) {
  if (frame.size() < kRequestSize) return 0;
  frame[4] = subCode;
  return SealRequest(frame, kCmdDownload, kRequestSize);
}

std::uint32_t BlockSizeFromAnswer(std::uint8_t e) {
  return std::uint32_t{1} << (e % 32);
}

bool IsBlankBlock(const FirmwareImageBytes& image, std::uint32_t address, std::uint32_t blockSize) {
  if (address >= image.size()) return true;
  const std::size_t end = std::min<std::size_t>(std::size_t{address} + blockSize, image.size());
  return std::all_of(image.begin() + address, image.begin() + static_cast<std::ptrdiff_t>(end),
                     [](std::uint8_t b) { return b == 0xFF; });
}

std::size_t BuildBlockFrame(std::span<std::uint8_t> frame, const FirmwareImageBytes& image,
                            std::uint32_t address, std::uint32_t blockSize) {
  const std::size_t length = std::size_t{blockSize} + kBlockFrameOverhead;
  if (blockSize == 0 || blockSize > kMaxDownloadBlockSize || frame.size() < length ||
      std::size_t{address} + blockSize > image.size()) {
    return 0;
  }
  frame[4] = DownloadWriteBlock;
  frame[7] = static_cast<std::uint8_t>(address & 0xFF);
  frame[8] = static_cast<std::uint8_t>((address >> 8) & 0xFF);
  frame[9] = static_cast<std::uint8_t>((address >> 16) & 0xFF);
  std::copy_n(image.begin() + address, blockSize, frame.begin() + 10);
  return SealRequest(frame, kCmdDownload, length, true);
}

bool IsDownloadAnswer(int length, std::span<const std::uint8_t> answer) {
  return length > 0 && !answer.empty() && answer[0] == kFrameSync;
}

bool IsDownloadAccepted(int length, std::span<const std::uint8_t> answer) {
  return IsDownloadAnswer(length, answer) && answer.size() > 3 && answer[3] == kDownloadAccepted;
}

}  // namespace velkor
