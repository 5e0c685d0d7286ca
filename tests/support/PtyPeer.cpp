#include "PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace testsupport {

PtyPeer::PtyPeer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    throw std::runtime_error("cannot create a pseudo-terminal");
  slavePath_ = ptsname(master_);
  // Hold the slave open in raw mode so the line neither echoes nor hangs up between the opens
  // and closes of the program under test.
  slaveKeeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
  if (slaveKeeper_ < 0) throw std::runtime_error("cannot open the pseudo-terminal's slave");
  termios tio{};
  tcgetattr(slaveKeeper_, &tio);
  cfmakeraw(&tio);
  tcsetattr(slaveKeeper_, TCSANOW, &tio);
  thread_ = std::thread([this] { Run(); });
}

PtyPeer::~PtyPeer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (slaveKeeper_ >= 0) close(slaveKeeper_);
  if (master_ >= 0) close(master_);
}

unsigned PtyPeer::BaudRate() const {
  termios tio{};
  if (tcgetattr(slaveKeeper_, &tio) != 0) return 0;
  switch (cfgetospeed(&tio)) {
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B115200:
      return 115200;
    default:
      return 0;
  }
}

void PtyPeer::QueueAnswer(std::vector<Chunk> chunks) {
  std::lock_guard lock(mutex_);
  answers_.push_back(std::move(chunks));
}

void PtyPeer::QueueDrip(const std::vector<uint8_t>& bytes, int gapMs) {
  std::vector<Chunk> chunks;
  for (uint8_t b : bytes) chunks.push_back(Chunk{gapMs, {b}});
  QueueAnswer(std::move(chunks));
}

void PtyPeer::SetResponder(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

void PtyPeer::ClearAnswers() {
  std::lock_guard lock(mutex_);
  answers_.clear();
}

std::vector<std::vector<uint8_t>> PtyPeer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<uint8_t> PtyPeer::RawBytes() const {
  std::lock_guard lock(mutex_);
  return raw_;
}

bool PtyPeer::WaitForRequests(size_t count, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return requests_.size() >= count; });
}

void PtyPeer::Run() {
  while (!stop_) {
    pollfd pfd{master_, POLLIN, 0};
    if (poll(&pfd, 1, 20) <= 0 || !(pfd.revents & POLLIN)) continue;
    uint8_t buf[512];
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) {
      usleep(10000);
      continue;
    }
    for (ssize_t i = 0; i < n; ++i) OnByte(buf[i]);
  }
}

void PtyPeer::OnByte(uint8_t byte) {
  std::vector<Chunk> answer;
  bool answered = false;
  {
    std::lock_guard lock(mutex_);
    raw_.push_back(byte);
    if (pending_.empty() && byte != 0x02) return;  // not the start of a frame
    pending_.push_back(byte);
    size_t length = 0;
    if (pending_.size() >= 3) length = pending_[2];
    if (pending_.size() >= 3 && length == 0) {
      if (pending_.size() < 7) return;
      length = size_t{pending_[5]} * 256 + pending_[6];
    }
    if (length == 0 || pending_.size() < length) return;
    requests_.push_back(pending_);
    const bool isAck = pending_.size() > 3 && pending_[3] == 0x00;
    std::vector<uint8_t> request;
    request.swap(pending_);
    changed_.notify_all();
    if (!isAck && !answers_.empty()) {
      answer = std::move(answers_.front());
      answers_.pop_front();
      answered = true;
    } else if (!isAck && responder_) {
      std::vector<uint8_t> bytes = responder_(request);
      if (!bytes.empty()) {
        answer.push_back(Chunk{0, std::move(bytes)});
        answered = true;
      }
    }
  }
  if (!answered) return;
  for (const Chunk& chunk : answer) {
    if (chunk.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(chunk.delayMs));
    if (!chunk.bytes.empty() && write(master_, chunk.bytes.data(), chunk.bytes.size()) < 0) return;
  }
}

std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame) {
  uint16_t crc = 0;
  for (uint8_t b : frame) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

}  // namespace testsupport
