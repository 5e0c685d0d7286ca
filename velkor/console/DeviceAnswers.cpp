#include "DeviceAnswers.h"

#include <algorithm>

#include "Frame.h"
#include "HexText.h"

namespace velkor {

namespace {

constexpr size_t kBillEntrySize = 5;
constexpr size_t kPartNumberWidth = 15;
constexpr size_t kSerialNumberWidth = 12;
constexpr size_t kAssetNumberWidth = 7;

// Text of a fixed-width field that ends early at its first zero byte.
std::string FieldText(std::span<const uint8_t> data, size_t offset, size_t width) {
  std::string text;
  for (size_t i = 0; i < width; ++i) {
    const uint8_t byte = DataByte(data, offset + i);
    if (byte == 0) break;
    const uint8_t one[1] = {byte};
    text += ShownChars(one);
  }
  return text;
}

}  // namespace

std::span<const uint8_t> AnswerData(std::span<const uint8_t> buffer) {
  const size_t length = std::min(AnswerFrameLength(buffer), buffer.size());
  const size_t first = buffer.size() > 2 && buffer[2] == 0 ? 5 : 3;
  if (length < first + 2) return {};
  return buffer.subspan(first, length - 2 - first);
}

uint8_t DataByte(std::span<const uint8_t> data, size_t index) {
  return index < data.size() ? data[index] : 0;
}

PollAnswer ReadPollAnswer(std::span<const uint8_t> data) {
  PollAnswer answer;
  answer.status = DataByte(data, 0);
  if (data.size() >= 2) answer.sub = data[1];
  return answer;
}

std::string ShownChars(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const uint8_t byte : bytes) {
    if (byte == 0) continue;
    const bool control = byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F);
    text += control ? ' ' : static_cast<char>(byte);
  }
  return text;
}

std::string BillValueText(uint8_t digit, uint8_t power) {
  const size_t n = power & 0x7F;
  std::string digits = std::to_string(digit);
  if ((power & 0x80) == 0) return digits + std::string(n, '0');
  if (n == 0) return digits;
  // Place the decimal point n digits from the right, with at least one digit before it.
  if (digits.size() <= n) digits.insert(0, n + 1 - digits.size(), '0');
  digits.insert(digits.size() - n, 1, '.');
  return digits;
}

std::array<BillEntryText, kBillTypes> DecodeBillTable(std::span<const uint8_t> data) {
  std::array<BillEntryText, kBillTypes> entries;
  for (size_t k = 0; k < kBillTypes; ++k) {
    const size_t at = k * kBillEntrySize;
    const uint8_t digit = DataByte(data, at);
    const uint8_t country[3] = {DataByte(data, at + 1), DataByte(data, at + 2),
                                DataByte(data, at + 3)};
    const uint8_t power = DataByte(data, at + 4);
    BillEntryText& entry = entries[k];
    entry.name = BillValueText(digit, power) + "-" + ShownChars(country);
    entry.line = (k < 10 ? "*   " : "* ") + std::to_string(k) + ((power & 0x80) ? "-  " : "- ") +
                 entry.name + ";   ";
  }
  return entries;
}

std::array<std::string, 3> IdentificationLines(std::span<const uint8_t> data) {
  uint64_t asset = 0;
  const size_t assetAt = kPartNumberWidth + kSerialNumberWidth;
  for (size_t i = 0; i < kAssetNumberWidth; ++i) asset = asset * 256 + DataByte(data, assetAt + i);
  return {
      "* Part Number - " + FieldText(data, 0, kPartNumberWidth),
      "* Serial Number - " + FieldText(data, kPartNumberWidth, kSerialNumberWidth),
      "* Asset Number - " + std::to_string(asset),
  };
}

std::string MaskLine(std::span<const uint8_t> data, size_t offset) {
  std::string line;
  for (size_t b = 0; b < 3; ++b) {
    if (b > 0) line += "--";
    const uint8_t byte = DataByte(data, offset + b);
    for (int bit = 7; bit >= 0; --bit) {
      line += ((byte >> bit) & 1) ? '1' : '0';
      if (bit == 4) line += '.';
    }
  }
  return line;
}

std::string BarcodeLine(std::span<const uint8_t> data, int length) {
  const size_t count = length > 0 ? std::min(static_cast<size_t>(length), data.size()) : 0;
  return "BarCode: " + ShownChars(data.first(count)) + ";";
}

std::string Crc32Line(std::span<const uint8_t> answer) {
  std::string line = "* CRC32 = ";
  for (size_t i = 3; i <= 6; ++i) AppendHex(line, DataByte(answer, i), 2);
  return line;
}

}  // namespace velkor
