// Velkup's ZELNET frames: layout, check code, the download payloads, the answer reader and the
// collector of stray received bytes. Plain C++ with no Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace velkup {

// The sequence's frame buffer: outgoing frames are built in it and stray received bytes
// collected in it.
inline constexpr size_t kFrameBufferSize = 2000;
// The sequence's exchange buffer: each payload, then each answer read over it.
inline constexpr size_t kExchangeBufferSize = 300;

inline constexpr size_t kBlockSize = 256;
inline constexpr size_t kWriteBlockPayloadSize = 263;  // frame of 268 bytes

inline constexpr uint8_t kSync = 0x02;
inline constexpr uint8_t kAddressQA = 0x01;
inline constexpr uint8_t kAddressQBQC = 0x03;

inline constexpr uint8_t kCmdAck = 0x00;
inline constexpr uint8_t kCmdReset = 0x30;
inline constexpr uint8_t kCmdPoll = 0x33;
inline constexpr uint8_t kCmdEnableBillTypes = 0x34;
inline constexpr uint8_t kCmdIdentification = 0x37;
inline constexpr uint8_t kCmdDownload = 0x50;
inline constexpr uint8_t kDownloadStart = 0x00;
inline constexpr uint8_t kDownloadQueryBlockSize = 0x01;
inline constexpr uint8_t kDownloadWriteBlock = 0x02;
inline constexpr uint8_t kDownloadFinish = 0x03;
inline constexpr uint8_t kDownloadAccepted = 0xE0;

inline constexpr uint8_t kStatePowerUp = 0x10;
inline constexpr uint8_t kStateInitialize = 0x13;
inline constexpr uint8_t kStateIdling = 0x14;

// CRC-16/KERMIT, bit by bit, over the frame's first length - 2 bytes. A length of 0 means the
// extended form: the total length is then taken from frame bytes 5 (high) and 6 (low), so the
// frame must hold at least 7 bytes.
uint16_t CalcCrc16(const uint8_t* frame, size_t length);

// Builds 0x02, address, length, payload, check code (low byte first) into out, which must hold
// n + 5 bytes; returns n + 5. The length byte is n + 5 when that fits in a byte, otherwise 0:
// the extended form, whose payload carries the 16-bit length itself (DownloadWriteBlock).
// The check code always covers the n + 3 bytes actually built.
size_t BuildFrame(uint8_t address, const uint8_t* payload, size_t n, uint8_t* out);

// The DownloadWriteBlock payload for the block at address: 0x50 0x02, the frame length 268
// high byte first, the address low byte first in 3 bytes, then the 256 bytes of memory from
// address on. The caller guarantees address + 256 <= the memory's size.
void BuildWriteBlockPayload(uint32_t address, const uint8_t* memory, uint8_t* payload);

// The total length an answer frame declares, from its first `held` bytes: byte 2, or in the
// extended form (byte 2 is 0) bytes 3 and 4, high byte first. 0 while fewer bytes are held than
// that takes (3, or 5 in the extended form). A declared length shorter than the bytes that
// declare it counts as those bytes: the frame is over.
size_t AnswerLength(const uint8_t* frame, size_t held);

// Reads up to count bytes into `into`; returns how many arrived (TCommDrv::ReadData).
using TReadBytes = std::function<uint32_t(uint8_t* into, uint32_t count)>;

// Reads one answer frame into buffer[0 .. size): 3 bytes, then the rest of the frame by
// AnswerLength, never past size. It returns as soon as the frame is whole instead of waiting for
// bytes that never come. Byte 3 is cleared first, so a short or missing answer never leaves an
// older state there. Returns the number of bytes read.
size_t ReadAnswerFrame(const TReadBytes& read, uint8_t* buffer, size_t size);

// Collects bytes that arrive while no read waits into the frame buffer and counts them; once the
// count reaches the answer's length (AnswerLength) it starts again from 0. Nothing past the
// buffer is stored.
class TStrayCollector {
 public:
  void Reset() { count_ = 0; }
  void Add(uint8_t* buffer, size_t bufferSize, const uint8_t* data, uint32_t dataSize);
  int32_t Count() const { return count_; }

 private:
  int32_t count_ = 0;
};

}  // namespace velkup
