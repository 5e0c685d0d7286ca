#include "frame.h"

#include <algorithm>

namespace bvsim {

uint16_t Crc16(const uint8_t* data, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return crc;
}

uint32_t Crc32(const uint8_t* data, size_t n) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

bool CheckCodeOk(const std::vector<uint8_t>& frame) {
  if (frame.size() < 6) return false;
  const uint16_t crc = Crc16(frame.data(), frame.size() - 2);
  return frame[frame.size() - 2] == (crc & 0xFF) && frame[frame.size() - 1] == (crc >> 8);
}

void AppendCheckCode(std::vector<uint8_t>& frame) {
  const uint16_t crc = Crc16(frame);
  frame.push_back(crc & 0xFF);
  frame.push_back(crc >> 8);
}

size_t AnnouncedAnswerLength(const std::vector<uint8_t>& frame) {
  if (frame.size() < 3) return 0;
  if (frame[2] != 0) return frame[2];
  if (frame.size() < 5) return 0;
  return size_t(frame[3]) << 8 | frame[4];
}

std::vector<uint8_t> MakeAnswer(uint8_t address, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> f;
  const size_t shortLen = data.size() + 5;
  if (shortLen <= 255) {
    f = {kSync, address, uint8_t(shortLen)};
  } else {
    const size_t len = std::min(data.size() + 7, kMaxFrame);
    f = {kSync, address, 0, uint8_t(len >> 8), uint8_t(len & 0xFF)};
  }
  const size_t room = (f.size() == 3 ? 255 : kMaxFrame) - f.size() - 2;
  f.insert(f.end(), data.begin(), data.begin() + std::min(data.size(), room));
  AppendCheckCode(f);
  return f;
}

std::vector<uint8_t> MakeRequest(uint8_t address, uint8_t command,
                                 const std::vector<uint8_t>& data) {
  std::vector<uint8_t> f;
  const size_t shortLen = data.size() + 6;
  if (shortLen <= 255 || data.empty()) {
    f = {kSync, address, uint8_t(shortLen), command};
    f.insert(f.end(), data.begin(), data.end());
  } else {
    const size_t len = std::min(data.size() + 8, kMaxFrame);
    f = {kSync, address, 0, command, data[0], uint8_t(len >> 8), uint8_t(len & 0xFF)};
    f.insert(f.end(), data.begin() + 1, data.begin() + (len - 8));
  }
  AppendCheckCode(f);
  return f;
}

std::vector<uint8_t> MakeBlockRequest(uint8_t address, uint32_t blockAddress,
                                      const std::vector<uint8_t>& bytes) {
  const size_t len = bytes.size() + 12;
  std::vector<uint8_t> f = {kSync,
                            address,
                            0,
                            0x50,
                            0x02,
                            uint8_t(len >> 8),
                            uint8_t(len & 0xFF),
                            uint8_t(blockAddress & 0xFF),
                            uint8_t(blockAddress >> 8 & 0xFF),
                            uint8_t(blockAddress >> 16 & 0xFF)};
  f.insert(f.end(), bytes.begin(), bytes.end());
  AppendCheckCode(f);
  return f;
}

namespace {

// Length of the request starting at buf[pos], 0 while unknown, SIZE_MAX when impossible.
size_t RequestLengthAt(const std::vector<uint8_t>& buf, size_t pos) {
  const size_t have = buf.size() - pos;
  if (have < 3) return 0;
  if (buf[pos + 2] != 0) return buf[pos + 2] < 6 ? SIZE_MAX : buf[pos + 2];
  if (have < 7) return 0;
  const size_t len = size_t(buf[pos + 5]) << 8 | buf[pos + 6];
  return len < 9 ? SIZE_MAX : len;
}

}  // namespace

void RequestReader::Feed(const uint8_t* data, size_t n, std::chrono::steady_clock::time_point t,
                         std::vector<Result>& out) {
  for (size_t i = 0; i < n; ++i) {
    if (buf_.empty()) {
      if (data[i] != kSync) continue;  // stray byte between frames
      first_ = t;
    }
    buf_.push_back(data[i]);
    Parse(out);
  }
}

void RequestReader::Parse(std::vector<Result>& out) {
  while (!buf_.empty()) {
    if (buf_[0] != kSync) {
      // What is left after a frame found inside a damaged one: resume at the next 0x02.
      buf_.erase(buf_.begin(), std::find(buf_.begin(), buf_.end(), kSync));
      continue;
    }
    const size_t len = RequestLengthAt(buf_, 0);
    if (len == 0) return;  // length not known yet
    if (len == SIZE_MAX) {
      // Not a frame start: resume at the next 0x02.
      auto next = std::find(buf_.begin() + 1, buf_.end(), kSync);
      buf_.erase(buf_.begin(), next);
      continue;
    }
    if (buf_.size() < len) return;
    std::vector<uint8_t> frame(buf_.begin(), buf_.begin() + len);
    if (CheckCodeOk(frame)) {
      buf_.erase(buf_.begin(), buf_.begin() + len);
      out.push_back({std::move(frame), true, first_});
      continue;
    }
    out.push_back({frame, false, first_});
    // A damaged frame: if a frame starts inside it, resume there; otherwise drop it whole.
    size_t resume = len;
    for (size_t p = 1; p < len; ++p) {
      if (buf_[p] != kSync) continue;
      const size_t inner = RequestLengthAt(buf_, p);
      if (inner == SIZE_MAX) continue;
      if (inner == 0 || p + inner > buf_.size()) {
        resume = p;  // may be a real frame whose rest is still coming
        break;
      }
      if (CheckCodeOk(std::vector<uint8_t>(buf_.begin() + p, buf_.begin() + p + inner))) {
        resume = p;
        break;
      }
    }
    buf_.erase(buf_.begin(), buf_.begin() + resume);
  }
}

bool RequestReader::TakePartial(Result& out) {
  if (buf_.empty()) return false;
  out = {buf_, false, first_};
  buf_.clear();
  return true;
}

}  // namespace bvsim
