#include "HexFile.h"

#include <algorithm>

#include "HexText.h"

namespace velkor {
namespace {

constexpr std::uint8_t kTypeData = 0x00;
constexpr std::uint8_t kTypeEndOfFile = 0x01;
constexpr std::uint8_t kTypeSegmentAddress = 0x02;
constexpr std::uint8_t kTypeStartSegment = 0x03;
constexpr std::uint8_t kTypeLinearAddress = 0x04;
constexpr std::uint8_t kTypeStartLinear = 0x05;

// Byte count, two address bytes, record type and checksum.
constexpr std::size_t kRecordOverhead = 5;
constexpr std::size_t kMaxDataBytes = 16;

std::string Hex(unsigned value, int digits) {
  std::string text = "0x";
  AppendHex(text, value, digits);
  return text;
}

void SetError(std::string* detail, std::size_t lineNumber, const std::string& text) {
  if (!detail) return;
  *detail = lineNumber ? "line " + std::to_string(lineNumber) + ": " + text : text;
}

using LineBuffer = std::array<char, kHexLineBufferSize>;

enum class FrameStatus { Ok, EndOfContents, NoColon, TooLong, Unterminated };

// Takes the line that starts at pos into the line buffer, the colon at index 0, and moves pos past
// its line feed. On Ok, length is the number of characters before the line feed.
FrameStatus FrameLine(std::string_view contents, std::size_t& pos, LineBuffer& line,
                      std::size_t& length) {
  if (pos >= contents.size()) return FrameStatus::EndOfContents;
  line[0] = contents[pos++];
  if (line[0] != ':') return FrameStatus::NoColon;
  for (std::size_t i = 1;; ++i) {
    if (i == line.size()) return FrameStatus::TooLong;
    if (pos >= contents.size()) return FrameStatus::Unterminated;
    line[i] = contents[pos++];
    if (line[i] == '\n') {
      length = i;
      return FrameStatus::Ok;
    }
  }
}

std::string FrameError(FrameStatus status) {
  switch (status) {
    case FrameStatus::NoColon:
      return "does not start with ':'";
    case FrameStatus::TooLong:
      return "no line feed within the first " + std::to_string(kHexLineBufferSize) + " characters";
    case FrameStatus::Unterminated:
      return "not ended by a line feed";
    case FrameStatus::EndOfContents:
    case FrameStatus::Ok:
      break;
  }
  return "no end-of-file record";
}

struct HexRecord {
  std::uint8_t count = 0;
  std::uint16_t address = 0;
  std::uint8_t type = 0;
  std::array<std::uint8_t, kMaxDataBytes> data{};
};

// Reads the record of a framed line: digits only (one carriage return may end the line), at least
// a whole record's fields, a byte count matching the digits on the line, and a right checksum.
bool ParseRecord(const LineBuffer& line, std::size_t length, HexRecord& record,
                 std::string& error) {
  std::size_t end = length;
  if (end > 1 && line[end - 1] == '\r') --end;
  for (std::size_t i = 1; i < end; ++i) {
    if (!IsHexDigit(line[i])) {
      error = "character " + Hex(static_cast<unsigned char>(line[i]), 2) + " at column " +
              std::to_string(i + 1) + " is not a hex digit (0-9, A-F)";
      return false;
    }
  }
  const std::size_t digits = end - 1;
  if (digits < 2 * kRecordOverhead) {
    error = "too short for a record (" + std::to_string(digits) + " digits)";
    return false;
  }
  if (digits % 2 != 0) {
    error = "odd number of digits (" + std::to_string(digits) + ")";
    return false;
  }
  std::array<std::uint8_t, kRecordOverhead + kMaxDataBytes> bytes{};
  const std::size_t byteCount = digits / 2;  // at most 21: the line buffer bounds the line
  std::uint8_t sum = 0;
  for (std::size_t k = 0; k < byteCount; ++k) {
    bytes[k] = HexPairToByte(line[1 + 2 * k], line[2 + 2 * k]);
    sum = static_cast<std::uint8_t>(sum + bytes[k]);
  }
  record.count = bytes[0];
  if (record.count != byteCount - kRecordOverhead) {
    error = "byte count " + Hex(record.count, 2) + " does not match the " +
            std::to_string(byteCount - kRecordOverhead) + " data bytes on the line";
    return false;
  }
  if (sum != 0) {
    const std::uint8_t stored = bytes[byteCount - 1];
    const auto expected = static_cast<std::uint8_t>(stored - sum);
    error = "checksum " + Hex(stored, 2) + " should be " + Hex(expected, 2);
    return false;
  }
  record.address = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
  record.type = bytes[3];
  std::copy_n(bytes.begin() + 4, record.count, record.data.begin());
  return true;
}

std::string SizeError(std::size_t size) {
  return "file of " + std::to_string(size) + " bytes is larger than " +
         std::to_string(kMaxHexFileSize) + " bytes";
}

}  // namespace

bool IsHexFileName(std::string_view path) {
  if (path.size() < 3) return false;
  const std::string_view tail = path.substr(path.size() - 3);
  return tail == "hex" || tail == "HEX";
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

std::uint8_t HexPairToByte(char first, char second) {
  auto value = [](char c) -> unsigned {
    if (c >= '1' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return 0;
  };
  return static_cast<std::uint8_t>(16 * value(first) + value(second));
}

bool CheckHexFile(std::string_view contents, TProgressSteps& progress, std::string* errorDetail) {
  if (contents.size() > kMaxHexFileSize) {
    progress.SetPosition(0);
    SetError(errorDetail, 0, SizeError(contents.size()));
    return false;
  }
  progress.SetMax(static_cast<int>(contents.size() / 1000));
  progress.SetPosition(0);
  if (contents.empty()) {
    SetError(errorDetail, 0, "the file is empty");
    return false;
  }
  std::size_t pos = 0;
  std::size_t lineNumber = 0;
  LineBuffer line;
  HexRecord record;
  std::string error;
  while (pos < contents.size()) {
    ++lineNumber;
    std::size_t length = 0;
    const FrameStatus status = FrameLine(contents, pos, line, length);
    if (status != FrameStatus::Ok) {
      progress.SetPosition(0);
      SetError(errorDetail, lineNumber, FrameError(status));
      return false;
    }
    progress.Step();
    if (!ParseRecord(line, length, record, error)) {
      progress.SetPosition(0);
      SetError(errorDetail, lineNumber, error);
      return false;
    }
  }
  progress.SetPosition(0);
  return true;
}

HexLoadResult LoadHexImage(std::string_view contents, FirmwareImageBytes& image,
                           HexLoadState& state, TProgressSteps& progress,
                           std::string* errorDetail) {
  image.fill(0xFF);
  state = HexLoadState{};
  if (contents.size() > kMaxHexFileSize) {
    SetError(errorDetail, 0, SizeError(contents.size()));
    return HexLoadResult::HexError;
  }
  progress.SetMax(static_cast<int>(contents.size() / kHexLineBufferSize));
  progress.SetPosition(0);

  std::size_t pos = 0;
  std::size_t lineNumber = 0;
  LineBuffer line;
  HexRecord record;
  std::string error;
  for (;;) {
    ++lineNumber;
    std::size_t length = 0;
    const FrameStatus status = FrameLine(contents, pos, line, length);
    if (status != FrameStatus::Ok) {
      SetError(errorDetail, status == FrameStatus::EndOfContents ? 0 : lineNumber,
               FrameError(status));
      return HexLoadResult::HexError;
    }
    progress.Step();
    if (!ParseRecord(line, length, record, error)) {
      SetError(errorDetail, lineNumber, error);
      return HexLoadResult::HexError;
    }
    switch (record.type) {
      case kTypeData: {
        const std::uint32_t base = state.UpperBank ? kFirmwareBankSize : 0;
        if (record.count > 0 && base + record.address + record.count > kFirmwareImageSize) {
          SetError(errorDetail, lineNumber,
                   "data record at " + Hex(record.address, 4) +
                       " of the upper bank runs past the end of the 128 KB image");
          return HexLoadResult::HexError;
        }
        state.LastDataAddress = record.address;
        for (std::size_t k = 0; k < record.count; ++k) {
          // Bytes that run past 0xFFFF of the lower bank go on at address 0 of the upper bank,
          // and so do the later records.
          const std::uint32_t offset = base + record.address + static_cast<std::uint32_t>(k);
          if (offset >= kFirmwareBankSize) state.UpperBank = 1;
          image[offset] = record.data[k];
          state.HighestOffset = state.HasData ? std::max(state.HighestOffset, offset) : offset;
          state.HasData = true;
        }
        break;
      }
      case kTypeEndOfFile:
        if (!state.HasData) {
          SetError(errorDetail, lineNumber, "no data before the end-of-file record");
          return HexLoadResult::HexError;
        }
        return HexLoadResult::Ok;
      case kTypeSegmentAddress:
      case kTypeLinearAddress: {
        if (record.count != 2) {
          SetError(errorDetail, lineNumber,
                   "address record of type " + Hex(record.type, 2) + " with " +
                       std::to_string(record.count) + " data bytes instead of 2");
          return HexLoadResult::HexError;
        }
        const unsigned value = record.data[0] << 8 | record.data[1];
        const unsigned upper = record.type == kTypeSegmentAddress ? 0x1000 : 0x0001;
        if (value == upper) {
          state.UpperBank = 1;
        } else if (value != 0) {
          // Only two values of each record select a bank of the image; the record is refused
          // for what it asks, not because of where its address would point.
          SetError(errorDetail, lineNumber,
                   (record.type == kTypeSegmentAddress ? "extended segment address "
                                                       : "extended linear address ") +
                       Hex(value, 4) + " refused: only 0x0000 and " + Hex(upper, 4) +
                       " select a bank of the 128 KB image");
          return HexLoadResult::HexError;
        }
        break;
      }
      case kTypeStartSegment:
      case kTypeStartLinear:
        break;  // start addresses are not part of the image
      default:
        SetError(errorDetail, lineNumber, "unknown record type " + Hex(record.type, 2));
        return HexLoadResult::HexError;
    }
  }
}

unsigned ImagePageCount(const HexLoadState& state) {
  return state.HasData ? state.HighestOffset / kFirmwarePageSize + 1 : 0;
}

std::uint32_t DownloadBlockCount(unsigned pages, std::uint32_t blockSize) {
  if (blockSize == 0) return 0;
  const std::uint64_t bytes = std::uint64_t{pages} * kFirmwarePageSize;
  const std::uint64_t blocks = (bytes + blockSize - 1) / blockSize;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(blocks, UINT32_MAX));
}

}  // namespace velkor
