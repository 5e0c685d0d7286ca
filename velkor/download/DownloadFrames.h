// The download's own frames: the Download sub-command requests, the block frame built from the
// firmware image, the block size the validator reports and the acceptance of an answer.
//
// Plain C++ without Qt; every frame is sealed by the link's SealRequest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "Frame.h"
#include "HexFile.h"

namespace velkor {

inline constexpr std::uint8_t kDownloadAccepted = 0xE0;  // DownloadAccepted
// The download's request buffer; every frame, the block frame included, must fit in it.
inline constexpr std::size_t kDownloadRequestBufferSize = 600;
// The largest block whose frame (block + 12 bytes) fits the request buffer.
inline constexpr std::uint32_t kMaxDownloadBlockSize = 512;
inline constexpr std::size_t kBlockFrameOverhead = 12;

enum DownloadSubCode : std::uint8_t {
  DownloadStart = 0x00,
  DownloadQueryBlockSize = 0x01,
  DownloadWriteBlock = 0x02,
  DownloadFinish = 0x03,
};

// Fills a 7-byte sub-command request 02 03 07 50 <sub-code> <check code> into frame. Returns 7,
// or 0 when the frame is shorter.
std::size_t BuildDownloadRequest(std::uint8_t subCode, std::span<std::uint8_t> frame);

// BlockSize from byte 3 of the answer to DownloadQueryBlockSize: 2 to the power (e mod 32).
std::uint32_t BlockSizeFromAnswer(std::uint8_t e);

// True when the blockSize image bytes from address are all 0xFF (the block is not sent). Bytes
// beyond the image count as 0xFF.
bool IsBlankBlock(const FirmwareImageBytes& image, std::uint32_t address, std::uint32_t blockSize);

// Fills the DownloadWriteBlock frame for the block at image offset address: header, length
// (blockSize + 12, high byte first), address (low byte first), the image bytes and the check code.
// Returns the frame length, or 0 without writing anything when blockSize is 0 or above 512, the
// frame does not fit, or the block does not lie inside the image.
std::size_t BuildBlockFrame(std::span<std::uint8_t> frame, const FirmwareImageBytes& image,
                            std::uint32_t address, std::uint32_t blockSize);

// Whether an answer read with ReadAnswer (its result `length`) accepts a block or the finish:
// a positive length, byte 0 = 0x02 and byte 3 = 0xE0.
bool IsDownloadAccepted(int length, std::span<const std::uint8_t> answer);

// Whether the answer to DownloadStart or DownloadQueryBlockSize is good: a positive length and
// byte 0 = 0x02.
bool IsDownloadAnswer(int length, std::span<const std::uint8_t> answer);

}  // namespace velkor
