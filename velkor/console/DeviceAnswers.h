// Decoding of the validator's answers to the console's commands into log text. Plain logic: every
// function reads only the bytes it is given, so a short answer never makes it read further. Texts
// are Latin-1: each answer byte shown as a character is one char of the result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "StatusText.h"

namespace velkor {

// The data bytes of a complete answer held in `buffer` from byte 0: bytes 3 to L-3 for a frame of
// total length L, or bytes 5 to L-3 for the extended form (L as AnswerFrameLength reads it).
// Bounded by the buffer: the check code and anything behind the answer are never part of it.
std::span<const uint8_t> AnswerData(std::span<const uint8_t> buffer);

// Data byte `index`, or 0 when the answer did not carry it.
uint8_t DataByte(std::span<const uint8_t> data, size_t index);

// A Poll answer: the status code and the sub-code (kNoSubCode when the answer has one data byte).
struct PollAnswer {
  uint8_t status = 0;
  uint8_t sub = kNoSubCode;
};
PollAnswer ReadPollAnswer(std::span<const uint8_t> data);

// Answer bytes shown as characters: a zero byte is left out, every other control byte (0x01-0x1F,
// 0x7F, 0x80-0x9F) becomes a space, so the text always stays on one line.
std::string ShownChars(std::span<const uint8_t> bytes);

// The value text of a bill-table entry: digit x 10^n, n being bits 0-6 of `power`, and bit 7 of
// `power` making the power negative ("5", "50", "0.5", "0.05", "2.5" for digit 25 and 10^-1).
std::string BillValueText(uint8_t digit, uint8_t power);

// One bill-table entry: its name ("50-USA") and its log line ("*   2- 50-USA;   ").
struct BillEntryText {
  std::string name;
  std::string line;
};

// The 24 entries of a bill table answer (5 bytes each: digit, three country characters, power);
// entries or bytes the answer did not carry read as zero.
std::array<BillEntryText, kBillTypes> DecodeBillTable(std::span<const uint8_t> data);

// The three identification lines: part number (15 bytes), serial number (12 bytes), each up to its
// first zero byte, and the 7-byte asset number (most significant byte first) in decimal.
std::array<std::string, 3> IdentificationLines(std::span<const uint8_t> data);

// Three mask bytes from data byte `offset` on, bit 7 first: "1000.0000--0000.0000--0000.0001".
std::string MaskLine(std::span<const uint8_t> data, size_t offset);

// "BarCode: ", at most `length` answer data bytes as characters, then ";".
std::string BarcodeLine(std::span<const uint8_t> data, int length);

// "* CRC32 = " and answer bytes 3-6 of the answer buffer (byte 3 most significant) as eight
// upper-case hex digits; bytes the buffer lacks read as 0.
std::string Crc32Line(std::span<const uint8_t> answer);

}  // namespace velkor
