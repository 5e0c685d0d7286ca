#include "pty_client.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace bvsim_test {

using Clock = std::chrono::steady_clock;

PtyClient::PtyClient(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return;
  termios tio{};
  ::tcgetattr(fd_, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd_, TCSANOW, &tio);
}

PtyClient::~PtyClient() {
  Close();
}

void PtyClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool PtyClient::Write(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (done < bytes.size() && Clock::now() < end) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += size_t(n);
    } else {
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
  return done == bytes.size();
}

int PtyClient::ReadSome(uint8_t* buf, size_t n, int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return 0;
  const ssize_t got = ::read(fd_, buf, n);
  if (got > 0) return int(got);
  if (p.revents & (POLLHUP | POLLERR)) hungUp_ = true;
  if (got == 0 || (got < 0 && errno == EIO)) hungUp_ = true;
  return hungUp_ ? -1 : 0;
}

std::optional<std::vector<uint8_t>> PtyClient::ReadFrame(std::chrono::milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  std::vector<uint8_t>& f = partial_;
  f.clear();
  for (;;) {
    if (f.size() >= 5 || (f.size() >= 3 && f[2] != 0)) {
      const size_t want = f[2] != 0 ? f[2] : size_t(f[3] << 8 | f[4]);
      // A length below 6 can never be complete: keep reading until the time-out.
      if (want >= 6 && f.size() >= want) {
        std::vector<uint8_t> out = std::move(f);
        f.clear();
        return out;
      }
    }
    const auto now = Clock::now();
    if (now >= end) return std::nullopt;
    uint8_t b[1];
    // One byte at a time so that nothing of a following frame is taken.
    const int n =
        ReadSome(b, 1, int(std::chrono::ceil<std::chrono::milliseconds>(end - now).count()));
    if (n < 0) return std::nullopt;
    if (n == 1) f.push_back(b[0]);
  }
}

std::vector<uint8_t> PtyClient::ReadFor(std::chrono::milliseconds quiet,
                                        std::chrono::milliseconds limit) {
  std::vector<uint8_t> out;
  const auto end = Clock::now() + limit;
  uint8_t buf[4096];
  while (Clock::now() < end) {
    const int n = ReadSome(buf, sizeof buf, int(quiet.count()));
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

std::optional<std::vector<uint8_t>> PtyClient::Exchange(const std::vector<uint8_t>& request,
                                                        std::chrono::milliseconds timeout) {
  if (!Write(request)) return std::nullopt;
  return ReadFrame(timeout);
}

}  // namespace bvsim_test
