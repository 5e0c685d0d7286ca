// ZELNET framing for the simulated validator: check codes, frame builders and the receiver that
// cuts the incoming byte stream into request frames. Plain C++, no Qt.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bvsim {

constexpr uint8_t kSync = 0x02;
// Longest frame the extended length can announce.
constexpr size_t kMaxFrame = 65535;

// CRC-16/KERMIT (polynomial 0x8408 reflected, initial 0, no final XOR), bit by bit.
uint16_t Crc16(const uint8_t* data, size_t n);
inline uint16_t Crc16(const std::vector<uint8_t>& v) {
  return Crc16(v.data(), v.size());
}

// CRC-32/IEEE (the zip/Ethernet one: reflected 0xEDB88320, initial and final XOR 0xFFFFFFFF).
uint32_t Crc32(const uint8_t* data, size_t n);
inline uint32_t Crc32(const std::vector<uint8_t>& v) {
  return Crc32(v.data(), v.size());
}

// True when the frame has at least 6 bytes and its last two bytes are the check code over the
// rest, low byte first.
bool CheckCodeOk(const std::vector<uint8_t>& frame);

// Appends the check code over the whole vector, low byte first.
void AppendCheckCode(std::vector<uint8_t>& frame);

// Total length an answer announces: byte 2, or for byte 2 = 0 the 16-bit length (high byte
// first) in bytes 3-4. 0 while too few bytes are there to tell.
size_t AnnouncedAnswerLength(const std::vector<uint8_t>& frame);

// An answer frame around its data bytes: 02 addr L data crc when it fits into 255 bytes,
// otherwise the extended form 02 addr 00 Lhi Llo data crc.
std::vector<uint8_t> MakeAnswer(uint8_t address, const std::vector<uint8_t>& data);

// A request frame: 02 addr L cmd data crc when it fits into 255 bytes, otherwise the extended
// form 02 addr 00 cmd data[0] Lhi Llo data[1...] crc (data[0] is the sub-command).
std::vector<uint8_t> MakeRequest(uint8_t address, uint8_t command,
                                 const std::vector<uint8_t>& data = {});

// A download write-block request (0x50 0x02) in the extended form: 24-bit block address low byte
// first, then the block bytes.
std::vector<uint8_t> MakeBlockRequest(uint8_t address, uint32_t blockAddress,
                                      const std::vector<uint8_t>& bytes);

// Cuts a byte stream into request frames. Bytes before a 0x02 are skipped; a start whose length
// cannot be a request (below 6, or an extended length below 9) is taken for a stray byte. A
// complete frame with a wrong check code is reported (ok = false); when a valid frame starts
// inside it, reading resumes there, so one damaged frame does not swallow the next.
class RequestReader {
 public:
  struct Result {
    std::vector<uint8_t> bytes;
    bool crcOk = false;
    std::chrono::steady_clock::time_point first;  // when its first byte was read
  };

  // Feeds bytes read at time t; complete frames are appended to out.
  void Feed(const uint8_t* data, size_t n, std::chrono::steady_clock::time_point t,
            std::vector<Result>& out);
  // True while part of a frame is held.
  bool Partial() const { return !buf_.empty(); }
  // Hands back the partial frame (as a frame with ok = false) and forgets it.
  bool TakePartial(Result& out);
  void Clear() { buf_.clear(); }

 private:
  void Parse(std::vector<Result>& out);
  std::vector<uint8_t> buf_;
  std::chrono::steady_clock::time_point first_{};
};

}  // namespace bvsim
