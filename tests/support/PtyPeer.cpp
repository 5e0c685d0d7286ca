#include "PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace zelnet::test {

using Clock = std::chrono::steady_clock;

namespace {

void MakeRaw(int fd) {
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
}

int RemainingMs(Clock::time_point end) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

}  // namespace

PtyPeer::PtyPeer() : ownPty_(true) {
  lineFd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (lineFd_ < 0 || ::grantpt(lineFd_) != 0 || ::unlockpt(lineFd_) != 0)
    throw std::runtime_error("cannot create a pseudo-terminal");
  slavePath_ = ::ptsname(lineFd_);
  slaveFd_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
  if (slaveFd_ < 0) throw std::runtime_error("cannot open " + slavePath_);
  // Raw on both sides: nothing written before the program opens the line is echoed.
  MakeRaw(lineFd_);
  MakeRaw(slaveFd_);
  reader_ = std::thread([this] { Run(); });
}

PtyPeer::PtyPeer(const std::string& slavePath) : slavePath_(slavePath) {
  lineFd_ = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (lineFd_ < 0) return;
  slaveFd_ = lineFd_;
  MakeRaw(lineFd_);
}

PtyPeer::~PtyPeer() {
  Close();
}

void PtyPeer::Close() {
  Join();
  stop_ = true;
  if (reader_.joinable()) reader_.join();
  if (slaveFd_ >= 0 && slaveFd_ != lineFd_) ::close(slaveFd_);
  if (lineFd_ >= 0) ::close(lineFd_);
  slaveFd_ = lineFd_ = -1;
}

unsigned PtyPeer::BaudRate() const {
  termios tio{};
  if (tcgetattr(slaveFd_, &tio) != 0) return 0;
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

void PtyPeer::QueueDrip(const Bytes& bytes, int gapMs) {
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

std::vector<Bytes> PtyPeer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

Bytes PtyPeer::RawBytes() const {
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
    if (hold_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    pollfd pfd{lineFd_, POLLIN, 0};
    if (::poll(&pfd, 1, 20) <= 0 || !(pfd.revents & POLLIN)) continue;
    uint8_t buf[512];
    const ssize_t n = ::read(lineFd_, buf, sizeof buf);
    if (n <= 0) {
      ::usleep(10000);
      continue;
    }
    for (ssize_t i = 0; i < n; ++i) OnByte(buf[i]);
  }
}

// Request frames: sync, address, length (0 = extended: the 16-bit length in bytes 5-6).
void PtyPeer::OnByte(uint8_t byte) {
  std::vector<Chunk> answer;
  bool answered = false;
  {
    std::lock_guard lock(mutex_);
    raw_.push_back(byte);
    unread_.push_back(byte);
    changed_.notify_all();
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
    Bytes request;
    request.swap(pending_);
    if (!isAck && !answers_.empty()) {
      answer = std::move(answers_.front());
      answers_.pop_front();
      answered = true;
    } else if (!isAck && responder_) {
      Bytes bytes = responder_(request);
      if (!bytes.empty()) {
        answer.push_back(Chunk{0, std::move(bytes)});
        answered = true;
      }
    }
  }
  if (!answered) return;
  for (const Chunk& chunk : answer) {
    if (chunk.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(chunk.delayMs));
    if (!chunk.bytes.empty() && ::write(lineFd_, chunk.bytes.data(), chunk.bytes.size()) < 0)
      return;
  }
}

bool PtyPeer::Write(const Bytes& bytes) {
  if (lineFd_ < 0) return false;
  size_t done = 0;
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (done < bytes.size() && Clock::now() < end) {
    const ssize_t n = ::write(lineFd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else {
      pollfd p{lineFd_, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
  return done == bytes.size();
}

void PtyPeer::WriteSpaced(Bytes bytes, std::chrono::milliseconds startDelay,
                          std::chrono::milliseconds gap) {
  Join();
  writer_ = std::thread([this, bytes = std::move(bytes), startDelay, gap] {
    std::this_thread::sleep_for(startDelay);
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(gap);
      Write({bytes[i]});
    }
  });
}

void PtyPeer::Join() {
  if (writer_.joinable()) writer_.join();
}

int PtyPeer::ReadSome(uint8_t* buf, size_t n, int timeoutMs) {
  if (ownPty_) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !unread_.empty(); });
    const size_t got = std::min(n, unread_.size());
    std::copy_n(unread_.begin(), got, buf);
    unread_.erase(unread_.begin(), unread_.begin() + static_cast<std::ptrdiff_t>(got));
    return static_cast<int>(got);
  }
  if (lineFd_ < 0) return -1;
  pollfd p{lineFd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return 0;
  const ssize_t got = ::read(lineFd_, buf, n);
  if (got > 0) return static_cast<int>(got);
  if (p.revents & (POLLHUP | POLLERR)) hungUp_ = true;
  if (got == 0 || (got < 0 && errno == EIO)) hungUp_ = true;
  return hungUp_ ? -1 : 0;
}

Bytes PtyPeer::Read(size_t n, std::chrono::milliseconds quiet) {
  Bytes out;
  uint8_t buf[4096];
  while (out.size() < n) {
    const int got = ReadSome(buf, std::min(sizeof buf, n - out.size()), int(quiet.count()));
    if (got <= 0) break;
    out.insert(out.end(), buf, buf + got);
  }
  return out;
}

Bytes PtyPeer::ReadFor(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) {
  Bytes out;
  const auto end = Clock::now() + limit;
  uint8_t buf[4096];
  while (Clock::now() < end) {
    const int got = ReadSome(buf, sizeof buf, int(quiet.count()));
    if (got <= 0) break;
    out.insert(out.end(), buf, buf + got);
  }
  return out;
}

std::optional<Bytes> PtyPeer::ReadFrame(std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  Bytes frame;
  for (;;) {
    if (frame.size() >= 5 || (frame.size() >= 3 && frame[2] != 0)) {
      const size_t want = frame[2] != 0 ? frame[2] : size_t(frame[3] << 8 | frame[4]);
      // A length below 6 can never be complete: keep reading until the time-out.
      if (want >= 6 && frame.size() >= want) return frame;
    }
    if (Clock::now() >= end) return std::nullopt;
    uint8_t b[1];
    // One byte at a time so that nothing of a following frame is taken.
    const int n = ReadSome(b, 1, RemainingMs(end));
    if (n < 0) return std::nullopt;
    if (n == 1) frame.push_back(b[0]);
  }
}

std::optional<Bytes> PtyPeer::Exchange(const Bytes& request, std::chrono::milliseconds timeout) {
  if (!Write(request)) return std::nullopt;
  return ReadFrame(timeout);
}

Bytes WithCrc(Bytes frame) {
  uint16_t crc = 0;
  for (uint8_t b : frame) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
  }
  frame.push_back(static_cast<uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<uint8_t>(crc >> 8));
  return frame;
}

}  // namespace zelnet::test
