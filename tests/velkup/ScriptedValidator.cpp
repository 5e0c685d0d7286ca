#include "ScriptedValidator.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>

namespace {

uint16_t Crc(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  return crc;
}

}  // namespace

Bytes ScriptedValidator::Frame(uint8_t address, const Bytes& data) {
  Bytes f(data.size() + 3);
  f[0] = 0x02;
  f[1] = address;
  f[2] = static_cast<uint8_t>(data.size() + 5);
  std::copy(data.begin(), data.end(), f.begin() + 3);
  const uint16_t crc = Crc(f.data(), f.size());
  f.push_back(static_cast<uint8_t>(crc & 0xFF));
  f.push_back(static_cast<uint8_t>(crc >> 8));
  return f;
}

ScriptedValidator::ScriptedValidator(Responder responder)
    : responder_(std::move(responder)), thread_([this] { Loop(); }) {}

ScriptedValidator::~ScriptedValidator() {
  stop_ = true;
  thread_.join();
}

std::vector<Bytes> ScriptedValidator::Frames() {
  std::lock_guard lock(mutex_);
  return frames_;
}

void ScriptedValidator::Loop() {
  Bytes pending;
  uint8_t buf[4096];
  while (!stop_) {
    pollfd p{pty_.MasterFd(), POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
    const ssize_t n = ::read(pty_.MasterFd(), buf, sizeof buf);
    if (n <= 0) continue;
    pending.insert(pending.end(), buf, buf + n);
    for (;;) {
      // Resynchronise on 0x02, then take one whole frame by its length.
      while (!pending.empty() && pending[0] != 0x02) pending.erase(pending.begin());
      if (pending.size() < 3) break;
      size_t length = pending[2];
      if (length == 0) {
        if (pending.size() < 7) break;
        length = size_t{pending[5]} << 8 | pending[6];
      }
      if (length < 6) length = 6;
      if (pending.size() < length) break;
      Bytes frame(pending.begin(), pending.begin() + static_cast<long>(length));
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(length));
      {
        std::lock_guard lock(mutex_);
        frames_.push_back(frame);
      }
      if (auto answer = responder_(frame)) pty_.Write(Frame(frame[1], *answer));
    }
  }
}
