// ZELNET frames: their layout (the length rule, the request header and check code), the closed
// command table, BuildFrame and the byte-trace text.
//
// Frame: 0x02, address 0x03, total length L (0 = extended: a 16-bit length follows, in bytes 5-6
// of a request or 3-4 of an answer, high byte first), the command (requests) or first data byte
// (answers), data, and the check code over everything before it, low byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "AnswerAssembler.h"

namespace velkor {

inline constexpr uint8_t kFrameSync = 0x02;
inline constexpr uint8_t kValidatorAddress = 0x03;
inline constexpr size_t kShortestFrame = 6;

// Request codes of the command table.
inline constexpr uint8_t kCmdAck = 0x00;
inline constexpr uint8_t kCmdReset = 0x30;
inline constexpr uint8_t kCmdGetStatus = 0x31;
inline constexpr uint8_t kCmdSetSecurity = 0x32;
inline constexpr uint8_t kCmdPoll = 0x33;
inline constexpr uint8_t kCmdEnableBillTypes = 0x34;  // also Disable Bill Types (all zero)
inline constexpr uint8_t kCmdStack = 0x35;
inline constexpr uint8_t kCmdReturn = 0x36;
inline constexpr uint8_t kCmdIdentification = 0x37;
inline constexpr uint8_t kCmdHold = 0x38;
inline constexpr uint8_t kCmdSetupBarcode = 0x39;
inline constexpr uint8_t kCmdExtractBarcode = 0x3A;
inline constexpr uint8_t kCmdGetBillTable = 0x41;
inline constexpr uint8_t kCmdDownload = 0x50;
inline constexpr uint8_t kCmdCrc32 = 0x51;
inline constexpr uint8_t kCmdRequestStatistics = 0x60;

// The length rule of a frame: the total length stands in byte 2, or, when byte 2 is 0, in two
// bytes high byte first: bytes 3-4 of an answer, bytes 5-6 of a request. Both give 0 while the
// bytes that carry the length are not all there.
size_t AnswerFrameLength(std::span<const uint8_t> answer);
size_t RequestFrameLength(std::span<const uint8_t> request);

// The layout the serial layer reads and writes by: an answer is complete at the length its
// fifth byte makes known; a length below 5 (below 6 in the extended form) can never be reached.
const LineFraming& ZelnetFraming();

// Total request length of a code of the command table, or 0 for a code outside it.
size_t CommandLength(uint8_t code);

// Seals a request of total length `length` whose data bytes the caller has written: sync,
// address, the length (short form in byte 2; extended form: byte 2 = 0 and the length in bytes
// 5-6, high byte first), the code in byte 3, and the check code in the last two bytes, low byte
// first. Nothing else is read or written. Returns the length, or 0 (writing nothing) when the
// frame cannot hold it or the length cannot be a request.
size_t SealRequest(std::span<uint8_t> frame, uint8_t code, size_t length, bool extended = false);

// Fills bytes 0-3 and the two check-code bytes of the request for `code`; the data bytes between
// are left exactly as the caller wrote them, and nothing beyond the frame is read or cleared.
// A code outside the table goes out as a 6-byte request without data. Returns the frame length,
// or 0 (and writes nothing) when the buffer cannot hold it.
size_t BuildFrame(uint8_t code, std::span<uint8_t> frame);

// A byte-trace line: the prefix, then each byte from byte 0 up to the length in byte 2 (bounded by
// the buffer) as two upper-case hex digits followed by ", ". An extended frame (byte 2 = 0) gives
// the prefix alone.
std::string TraceLine(std::string_view prefix, std::span<const uint8_t> buffer);

}  // namespace velkor
