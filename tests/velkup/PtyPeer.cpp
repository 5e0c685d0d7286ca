#include "PtyPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

PtyPeer::PtyPeer() {
  masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (masterFd_ < 0 || ::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0)
    throw std::runtime_error("cannot open a pseudo-terminal");
  slavePath_ = ::ptsname(masterFd_);
  slaveFd_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
  if (slaveFd_ < 0) throw std::runtime_error("cannot open " + slavePath_);
  // Raw on both sides: nothing written before the code under test opens the line is echoed.
  termios t{};
  for (int fd : {masterFd_, slaveFd_}) {
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
  }
}

PtyPeer::~PtyPeer() {
  Join();
  ::close(slaveFd_);
  ::close(masterFd_);
}

void PtyPeer::Write(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(masterFd_, bytes.data() + done, bytes.size() - done);
    if (w <= 0) throw std::runtime_error("pty write failed");
    done += static_cast<size_t>(w);
  }
}

void PtyPeer::WriteSpaced(std::vector<uint8_t> bytes, std::chrono::milliseconds startDelay,
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

std::vector<uint8_t> PtyPeer::Read(size_t n, int quietMs) {
  std::vector<uint8_t> out;
  uint8_t buf[4096];
  while (out.size() < n) {
    pollfd p{masterFd_, POLLIN, 0};
    if (::poll(&p, 1, quietMs) <= 0 || !(p.revents & POLLIN)) break;
    const ssize_t r = ::read(masterFd_, buf, std::min(sizeof buf, n - out.size()));
    if (r <= 0) break;
    out.insert(out.end(), buf, buf + r);
  }
  return out;
}

std::vector<uint8_t> PtyPeer::Drain(int quietMs) {
  return Read(SIZE_MAX, quietMs);
}
