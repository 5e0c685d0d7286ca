#include "ImageFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#ifdef _WIN32
#include <system_error>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velkup {

long TMemorySource::Read(char* into, size_t size) {
  const size_t n = std::min(size, size_ - pos_);
  if (n > 0) std::memcpy(into, data_ + pos_, n);
  pos_ += n;
  return static_cast<long>(n);
}

namespace {

constexpr int kMaxLineChars = 43;

using TFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// A file's bytes, counted as they are read: past kMaxImageFileSize the file reads as failed.
class TFileSource : public THexSource {
 public:
  TFileSource(std::FILE* f, const TFileBytes& onBytes) : file_(f), onBytes_(onBytes) {}
  long Read(char* into, size_t size) override {
    if (tooLarge_) return -1;
    const size_t n = std::fread(into, 1, size, file_);
    if (n == 0 && std::ferror(file_)) return -1;
    total_ += n;
    if (total_ > kMaxImageFileSize) {
      tooLarge_ = true;
      return -1;
    }
    if (n > 0 && onBytes_) onBytes_(into, n);
    return static_cast<long>(n);
  }
  // Reads the rest of the file for onBytes.
  void Drain() {
    if (!onBytes_) return;
    char buf[64 * 1024];
    while (Read(buf, sizeof buf) > 0) {
    }
  }
  bool TooLarge() const { return tooLarge_; }

 private:
  std::FILE* file_;
  const TFileBytes& onBytes_;
  uint64_t total_ = 0;
  bool tooLarge_ = false;
};

// Opens a file to read as an image, or says why it is not one. A name that cannot be opened, or
// a folder, leaves result.opened false. Nothing here waits: a pipe without a writer or a
// terminal is opened without blocking and refused.
TFile OpenImageFile(const std::string& fileName, TLoadResult& result) {
  TFile none(nullptr, &std::fclose);
  std::error_code ec;
  if (fileName.empty() || std::filesystem::is_directory(fileName, ec)) return none;
#ifdef _WIN32
  const auto status = std::filesystem::status(fileName, ec);
  if (ec) return none;
  TFile file(std::fopen(fileName.c_str(), "rb"), &std::fclose);
  if (!file) return none;
  result.opened = true;
  if (!std::filesystem::is_regular_file(status)) {
    result.refusal = TFileRefusal::NotRegular;
    return none;
  }
  if (std::filesystem::file_size(fileName, ec) > kMaxImageFileSize) {
    result.refusal = TFileRefusal::TooLarge;
    return none;
  }
  return file;
#else
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return none;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return none;
  }
  result.opened = true;
  if (!S_ISREG(st.st_mode))
    result.refusal = TFileRefusal::NotRegular;
  else if (static_cast<uint64_t>(st.st_size) > kMaxImageFileSize)
    result.refusal = TFileRefusal::TooLarge;
  if (result.refusal != TFileRefusal::None ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return none;
  }
  TFile file(::fdopen(fd, "rb"), &std::fclose);
  if (!file) {
    ::close(fd);
    result.opened = false;
  }
  return file;
#endif
}

// The reader's state across characters of one text.
struct THexReader {
  uint8_t* memory;
  size_t size;
  THexResult result;
  int pos = 0;                // characters of the current line so far
  uint8_t reg = 0;            // byte being built from digits
  uint8_t sum = 0;            // running checksum
  uint8_t remaining = 0;      // data bytes still to come in this record
  char type = 0;              // the record type's second character
  bool checksumRead = false;  // the record got past its data to its checksum byte
  uint32_t address = 0;       // the address accumulator
  bool lastWasCr = false;
  uint8_t count = 0;      // the current record's byte count
  bool afterEnd = false;  // the last record read was an end record with count 0
  bool trailing = false;  // past the end record, in bytes that are no record

  // What old tools leave after the end record: Ctrl-Z, blanks and NUL padding.
  static bool Filler(char c) { return c == 0x1A || c == ' ' || c == '\t' || c == '\0'; }

  // A filler character after the end record: the rest of the text must be filler too.
  bool StartTrailing() {
    if (sum != 0) {
      result.outcome = THexOutcome::BadChecksum;
      return false;
    }
    trailing = true;
    pos = 0;
    ++result.trailingBytes;
    return true;
  }

  // Ends the current line; false when it is malformed.
  bool EndLine() {
    const bool wasEmpty = pos == 0;
    pos = 0;
    if (sum != 0) {
      result.outcome = THexOutcome::BadChecksum;
      return false;
    }
    if (!wasEmpty && !checksumRead) {
      result.outcome = THexOutcome::ShortRecord;
      return false;
    }
    if (!wasEmpty) afterEnd = type == '1' && count == 0;
    return true;
  }

  void Data(uint8_t byte) {
    switch (type) {
      case '0':
        if (address < size) {
          memory[address] = byte;
          ++result.storedBytes;
        } else {
          ++result.skippedBytes;
        }
        ++address;
        break;
      case '2':
        if (pos == 11)
          address = (address & ~0x000FF000u) | (uint32_t{byte} << 12);
        else if (pos == 13)
          address = (address & ~0x00000FF0u) | (uint32_t{byte} << 4);
        break;
      case '4':
        if (pos == 11)
          address = (address & ~0xFF000000u) | (uint32_t{byte} << 24);
        else if (pos == 13)
          address = (address & ~0x00FF0000u) | (uint32_t{byte} << 16);
        break;
      default:
        break;
    }
  }

  // One character; false when reading stops here.
  bool Char(char c) {
    if (trailing) {
      if (c == '\n' || c == '\r') {
        if (c == '\r' || !lastWasCr) ++result.line;
        lastWasCr = c == '\r';
        return true;
      }
      lastWasCr = false;
      if (Filler(c)) {
        ++result.trailingBytes;
        return true;
      }
      // Something after the filler: the file is not merely padded, so it is not complete.
      result.outcome = THexOutcome::NoColon;
      return false;
    }
    if (Filler(c) &&
        ((pos == 0 && afterEnd) || (pos > 0 && checksumRead && type == '1' && count == 0)))
      return StartTrailing();
    if (c == '\r' || c == '\n') {
      const bool pairedLf = c == '\n' && lastWasCr;
      lastWasCr = c == '\r';
      if (pairedLf) return true;  // CR LF ends one line
      if (!EndLine()) return false;
      ++result.line;
      return true;
    }
    lastWasCr = false;
    if (pos == kMaxLineChars) {
      result.outcome = THexOutcome::LineTooLong;
      return false;
    }
    ++pos;
    if (pos == 1) {
      if (c != ':') {
        result.outcome = THexOutcome::NoColon;
        return false;
      }
      checksumRead = false;
      return true;
    }
    const auto code = static_cast<uint8_t>(c);
    reg = static_cast<uint8_t>(reg * 16 + (code > '9' ? code - 0x37 : code - 0x30));
    if (pos % 2 == 0) return true;
    sum = static_cast<uint8_t>(sum + reg);
    switch (pos) {
      case 3:
        remaining = reg;
        count = reg;
        break;
      case 5:
        address = (address & ~0xFF00u) | (uint32_t{reg} << 8);
        break;
      case 7:
        address = (address & ~0x00FFu) | reg;
        break;
      case 9:
        type = c;
        break;
      default:
        if (remaining == 0) {
          checksumRead = true;
        } else {
          --remaining;
          if (type == '1') {
            result.outcome = THexOutcome::EndRecord;
            return false;
          }
          Data(reg);
        }
        break;
    }
    return true;
  }
};

}  // namespace

THexResult ReadHexStream(THexSource& source, uint8_t* memory, size_t size) {
  THexReader r{memory, size, {}};
  r.result.line = 1;
  char buf[64 * 1024];
  for (;;) {
    const long n = source.Read(buf, sizeof buf);
    if (n < 0) {
      r.result.outcome = THexOutcome::ReadError;
      return r.result;
    }
    if (n == 0) break;
    for (long i = 0; i < n; ++i)
      if (!r.Char(buf[i])) return r.result;
  }
  // A last line without a line end is checked like any other.
  if (r.pos > 0 && !r.EndLine()) return r.result;
  r.result.outcome = THexOutcome::EndOfStream;
  return r.result;
}

TLoadResult LoadImageFile(const std::string& fileName, TImageMemory& memory,
                          const TFileBytes& onBytes) {
  TLoadResult result;
  const TFile file = OpenImageFile(fileName, result);
  if (!file) return result;
  memory.assign(kImageMemorySize, 0xFF);
  TFileSource source(file.get(), onBytes);
  result.hex = ReadHexStream(source, memory.data(), memory.size());
  // The bytes behind an end record count for onBytes (the file's hash) only when the image is
  // taken.
  if (!result.hex.Malformed()) source.Drain();
  if (source.TooLarge()) result.refusal = TFileRefusal::TooLarge;
  return result;
}

std::string DescribeLoadFailure(const std::string& fileName, const TLoadResult& result) {
  if (!result.opened) return "Cannot open file " + fileName;
  switch (result.refusal) {
    case TFileRefusal::NotRegular:
      return "The image file " + fileName + " is not a regular file. Nothing was sent.";
    case TFileRefusal::TooLarge:
      return "The image file " + fileName + " is larger than " + std::to_string(kMaxImageFileSize) +
             " bytes, more than a HEX image of the memory can be. Nothing was sent.";
    case TFileRefusal::None:
      break;
  }
  const char* why = nullptr;
  switch (result.hex.outcome) {
    case THexOutcome::NoColon:
      why = "the line does not start with \":\"";
      break;
    case THexOutcome::LineTooLong:
      why = "the line is longer than 43 characters";
      break;
    case THexOutcome::BadChecksum:
      why = "the line's checksum is wrong";
      break;
    case THexOutcome::ShortRecord:
      why = "the line ends before its data and checksum";
      break;
    case THexOutcome::ReadError:
      return "Cannot read file " + fileName;
    case THexOutcome::EndOfStream:
    case THexOutcome::EndRecord:
      return {};
  }
  return "The image file " + fileName + " is damaged at line " + std::to_string(result.hex.line) +
         ": " + why + ". Nothing was sent.";
}

}  // namespace velkup
