// Intel HEX firmware files for the download: the file-name test, the checking pass, the loading
// pass into the 128 KB firmware image, and the page and block counts of what was loaded.
//
// Plain C++ without Qt. The passes work on the file's contents already read into memory (the
// window reads the file once, at most kMaxHexFileSize + 1 bytes) and report their progress through
// TProgressSteps, which the main window implements over its progress bar ProgBarMain.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velkor {

// The image is two banks of 64 KB, contiguous: image offset = bank * 65536 + address in bank.
inline constexpr std::size_t kFirmwareImageSize = 131072;
inline constexpr std::size_t kFirmwareBankSize = 65536;
inline constexpr std::size_t kFirmwarePageSize = 256;
// One line is examined in a buffer of 45 characters: its line feed must be among them, so a line
// holds at most 44 characters before the line feed, colon and carriage return included.
inline constexpr std::size_t kHexLineBufferSize = 45;
// Files are read whole; a faithful file for a 128 KB image is a few hundred kilobytes.
inline constexpr std::size_t kMaxHexFileSize = 16u * 1024u * 1024u;

using FirmwareImageBytes = std::array<std::uint8_t, kFirmwareImageSize>;

// The three progress-bar operations the passes and the download use.
class TProgressSteps {
 public:
  virtual ~TProgressSteps() = default;
  virtual void SetMax(int maximum) = 0;
  virtual void SetPosition(int position) = 0;
  virtual int Position() const = 0;
  void Step() { SetPosition(Position() + 1); }
};

// For callers that show no progress (fuzzing, benchmarks).
class TNoProgress final : public TProgressSteps {
 public:
  void SetMax(int) override {}
  void SetPosition(int position) override { position_ = position; }
  int Position() const override { return position_; }

 private:
  int position_ = 0;
};

// State of the most recent LoadHexImage.
struct HexLoadState {
  std::uint8_t UpperBank = 0;         // 1 once a record selected or ran into the upper bank
  std::uint16_t LastDataAddress = 0;  // address field of the last data record stored
  std::uint32_t HighestOffset = 0;    // highest image offset written (valid when HasData)
  bool HasData = false;               // at least one data byte was written
};

enum class HexLoadResult { Ok, HexError };

// True when the path's last three characters are exactly "hex" or exactly "HEX".
bool IsHexFileName(std::string_view path);

// True for '0'-'9' and 'A'-'F' only.
bool IsHexDigit(char c);

// 16 * value(first) + value(second); a character that is not a digit has the value 0.
std::uint8_t HexPairToByte(char first, char second);

// The checking pass: every line framed within the line buffer, made of digits only, its byte
// count matching its length, and its checksum right. On failure errorDetail (when given) names
// the line and the fault. Progress: maximum = size / 1000, one step per line, position 0 at the
// end whatever the outcome.
bool CheckHexFile(std::string_view contents, TProgressSteps& progress,
                  std::string* errorDetail = nullptr);

// The loading pass: fills image with 0xFF, then stores the records up to the first end-of-file
// record. Type 00 is data; 01 ends the load; 02 with segment 0x1000 and 04 with 0x0001 select the
// upper bank (0x0000 changes nothing, any other value selects no bank and is refused); 03 and
// 05 are ignored; other types are errors. A record running past 0xFFFF of the lower bank goes on
// in the upper bank; one running past the end of the image is an error. A file that loads no data
// byte is an error. Progress: maximum = size / 45, one step per line.
HexLoadResult LoadHexImage(std::string_view contents, FirmwareImageBytes& image,
                           HexLoadState& state, TProgressSteps& progress,
                           std::string* errorDetail = nullptr);

// Number of 256-byte pages from image offset 0 that cover every byte loaded:
// highest offset written / 256 + 1; 0 when nothing was loaded.
unsigned ImagePageCount(const HexLoadState& state);

// Number of blocks of blockSize bytes that cover the given pages (rounded up); 0 for a block size
// of 0.
std::uint32_t DownloadBlockCount(unsigned pages, std::uint32_t blockSize);

}  // namespace velkor
