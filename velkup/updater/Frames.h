// Velkup's ZELNET frames: layout, check code, the download payloads and the collector of stray
// received bytes. Plain C++ with no Qt.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velkup {

// The window's frame buffer: outgoing frames are built in it and stray received bytes
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

// Collects bytes that arrive while no read waits into the frame buffer and counts them; once the
// count reaches the frame's expected length it starts again from 0. Nothing past the buffer is
// stored.
class TStrayCollector {
 public:
  void Reset() { count_ = 0; }
  void Add(uint8_t* buffer, size_t bufferSize, const uint8_t* data, uint32_t dataSize);
  int32_t Count() const { return count_; }

 private:
  int32_t count_ = 0;
};

}  // namespace velkup
