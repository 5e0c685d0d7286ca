// The updater's firmware image file: Intel HEX text loaded into a flat image memory addressed by
// the HEX addresses. Plain C++ with no Qt, so the fuzz build can link it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velkup {

// Size of ImageMemory; offset = image address.
inline constexpr uint32_t kImageMemorySize = 3'000'000;

// The image memory of the updater, 0xFF wherever the file sets nothing.
using TImageMemory = std::vector<uint8_t>;

// The largest image file taken: the whole memory described one data byte to a record
// (":01AAAA00DDCC" and CR LF, 15 characters a byte), with an extended address record for every
// 64 KB, the end record and room for filler after it. Any larger file cannot be a HEX image of
// the memory; it is refused before it is read and, should it grow, while it is read.
inline constexpr uint64_t kMaxImageFileSize =
    uint64_t{kImageMemorySize} * 15 + (kImageMemorySize / 0x10000 + 1) * 17 + 13 + 4096;

// A source of bytes read front to back.
class THexSource {
 public:
  virtual ~THexSource() = default;
  // Reads up to size bytes; returns how many, 0 at the end, or -1 when reading failed.
  virtual long Read(char* into, size_t size) = 0;
};

// Bytes held in memory.
class TMemorySource : public THexSource {
 public:
  TMemorySource(const void* data, size_t size)
      : data_(static_cast<const char*>(data)), size_(size) {}
  explicit TMemorySource(const std::string& text) : TMemorySource(text.data(), text.size()) {}
  long Read(char* into, size_t size) override;

 private:
  const char* data_;
  size_t size_;
  size_t pos_ = 0;
};

enum class THexOutcome {
  EndOfStream,  // read to the end
  EndRecord,    // a type "1" record with a non-zero count
  NoColon,      // a line that does not start with ":"
  LineTooLong,  // more than 43 characters before the line end
  BadChecksum,  // the line's bytes do not add up to 0
  ShortRecord,  // the line ended before its data bytes and checksum
  ReadError,    // the source failed
};

struct THexResult {
  THexOutcome outcome = THexOutcome::EndOfStream;
  uint32_t line = 0;           // line where reading stopped (1 = first line)
  uint32_t storedBytes = 0;    // data bytes written into the memory
  uint32_t skippedBytes = 0;   // data bytes at addresses past the end of the memory, not written
  uint32_t trailingBytes = 0;  // filler after the last end record (Ctrl-Z, blanks, NUL)
  bool Malformed() const {
    return outcome != THexOutcome::EndOfStream && outcome != THexOutcome::EndRecord;
  }
};

// Reads Intel HEX records from the source into memory[0 .. size). Line rules:
// - lines end with CR, LF or both; empty lines are skipped;
// - a line starts with ":" and holds at most 43 characters (16 data bytes);
// - every pair of characters is one byte, high digit first; a digit is its character code minus
//   0x30, or minus 0x37 above "9" (so lowercase letters give wrong bytes, and the line then
//   fails its checksum);
// - all bytes of a line from the count to the checksum add up to 0 modulo 256; the last line is
//   checked too when the text does not end with a line end;
// - one 32-bit address accumulator serves the whole text: each record's address replaces its
//   low 16 bits, type "2" records set bits 4..19, type "4" records bits 16..31, and a data
//   record running past a 64 KB boundary carries into bit 16 for the records that follow;
// - type "0" stores its bytes; type "1" ends the load only with a non-zero count (the usual
//   end record :00000001FF does not); other types only count for the checksum.
// - after an end record with count 0 that is the last record, bytes that are no record (Ctrl-Z
//   0x1A, spaces, tabs, NUL, blank lines) end the text: they are counted, not refused. Anything
//   else among them (a record included) is a malformed line.
// Data bytes are stored as they are read; bytes whose address is at or past size are skipped.
// Reading stops at the first malformed line; the result names it.
THexResult ReadHexStream(THexSource& source, uint8_t* memory, size_t size);

// Why a file that could be opened was not read as an image.
enum class TFileRefusal {
  None,
  NotRegular,  // a device, a pipe, a socket: nothing that holds a file's bytes
  TooLarge,    // larger than kMaxImageFileSize
};

struct TLoadResult {
  bool opened = false;
  TFileRefusal refusal = TFileRefusal::None;
  THexResult hex;
  bool Ok() const { return opened && refusal == TFileRefusal::None && !hex.Malformed(); }
};

// Every byte of a file as it is read, in order.
using TFileBytes = std::function<void(const char* data, size_t size)>;

// Opens the file, fills memory (resized to kImageMemorySize) with 0xFF, reads it with
// ReadHexStream and closes it. Only a regular file of at most kMaxImageFileSize bytes is read;
// anything else (a device, a pipe, a larger file) is refused at once without waiting for a byte
// and leaves memory untouched, as does a file that cannot be opened. When onBytes is set it sees
// every byte read, in order; a file that loads Ok is read to its end for it, also past an end
// record that stops the image.
TLoadResult LoadImageFile(const std::string& fileName, TImageMemory& memory,
                          const TFileBytes& onBytes = {});

// The operator's message for a load that is not Ok, naming the file and, for a malformed line,
// the line.
std::string DescribeLoadFailure(const std::string& fileName, const TLoadResult& result);

}  // namespace velkup
