#include "bvsim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace bvsim {

using Clock = std::chrono::steady_clock;

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void SetFlags(int fd) {
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Time left until t, at most a minute (the loop looks again then).
Clock::duration Until(Clock::time_point t, Clock::time_point now) {
  if (t <= now) return Clock::duration::zero();
  return std::min<Clock::duration>(t - now, std::chrono::minutes(1));
}

}  // namespace

Simulator::Simulator(Config config)
    : config_(std::move(config)), device_(config_), baud_(config_.baud) {}

Simulator::~Simulator() {
  Stop();
}

bool Simulator::Start() {
  {
    std::lock_guard lock(mu_);
    if (running_) return true;
  }
  Stop();  // joins a thread that ended with a dropped line
  std::lock_guard lock(mu_);
  error_.clear();
  auto fail = [this](const char* what) {
    error_ = std::string(what) + ": " + std::strerror(errno);
    CloseFd(master_);
    CloseFd(slave_);
    CloseFd(wake_);
    CloseFd(inotify_);
    return false;
  };
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) return fail("posix_openpt");
  SetFlags(master_);
  if (::grantpt(master_) != 0) return fail("grantpt");
  if (::unlockpt(master_) != 0) return fail("unlockpt");
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname_r");
  path_ = name;
  // Hold the slave open ourselves, in raw mode with echo off, before any client can see it:
  // the line then survives clients opening and closing it, and nothing is ever echoed.
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (slave_ < 0) return fail("open slave");
  termios tio{};
  if (::tcgetattr(slave_, &tio) != 0) return fail("tcgetattr");
  ::cfmakeraw(&tio);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(slave_, TCSANOW, &tio) != 0) return fail("tcsetattr");
  wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) return fail("eventfd");
  // Clients opening and closing the slave are seen through inotify; without it the simulator
  // still works but cannot drop answers that nobody will read.
  inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_ >= 0 && ::inotify_add_watch(inotify_, name, IN_CLOSE) < 0) CloseFd(inotify_);
  stop_ = false;
  dropped_ = false;
  running_ = true;
  out_.clear();
  outBlocked_ = false;
  reader_.Clear();
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void Simulator::Stop() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
    if (wake_ >= 0) {
      const uint64_t one = 1;
      [[maybe_unused]] auto n = ::write(wake_, &one, sizeof one);
    }
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mu_);
  CloseLine();
  CloseFd(wake_);
  CloseFd(inotify_);
  running_ = false;
  cv_.notify_all();
}

void Simulator::CloseLine() {
  CloseFd(slave_);
  CloseFd(master_);
  out_.clear();
}

bool Simulator::Running() const {
  std::lock_guard lock(mu_);
  return running_;
}

std::string Simulator::SlavePath() const {
  std::lock_guard lock(mu_);
  return path_;
}

std::string Simulator::LastError() const {
  std::lock_guard lock(mu_);
  return error_;
}

bool Simulator::LineDropped() const {
  std::lock_guard lock(mu_);
  return dropped_;
}

// ---- The service thread.

void Simulator::Serve() {
  // Answers are due at exact times when the line is paced: no timer slack on this thread.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::vector<uint8_t> buf(4096);
  bool hungUp = false;
  for (;;) {
    std::vector<Event> events;
    pollfd fds[3];
    nfds_t nfds = 0;
    std::optional<Clock::duration> timeout;  // none: wait for the line or a wake-up
    auto sooner = [&timeout](Clock::duration d) { timeout = timeout ? std::min(*timeout, d) : d; };
    {
      std::lock_guard lock(mu_);
      if (stop_ || master_ < 0) break;
      const auto now = Clock::now();
      if (!out_.empty() && !outBlocked_) sooner(Until(out_.front().due, now));
      if (reader_.Partial() && config_.frameGapMs > 0)
        sooner(Until(lastByte_ + std::chrono::milliseconds(config_.frameGapMs), now));
      if (hungUp) sooner(std::chrono::milliseconds(50));
      fds[nfds++] = {wake_, POLLIN, 0};
      // While the master reports a hang-up, poll would return at once: wait on the rest.
      if (!hungUp) {
        fds[nfds++] = {master_, short(POLLIN | (outBlocked_ ? POLLOUT : 0)), 0};
      }
      if (inotify_ >= 0) fds[nfds++] = {inotify_, POLLIN, 0};
    }
    timespec ts{};
    if (timeout) {
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*timeout).count();
      ts.tv_sec = time_t(ns / 1'000'000'000);
      ts.tv_nsec = long(ns % 1'000'000'000);
    }
    const int ready = ::ppoll(fds, nfds, timeout ? &ts : nullptr, nullptr);
    if (ready < 0 && errno != EINTR) break;

    std::unique_lock lock(mu_);
    if (stop_ || master_ < 0) break;
    hungUp = false;
    uint64_t drain;
    while (::read(wake_, &drain, sizeof drain) > 0) {
    }
    // Read everything that is there, then look whether a client closed the line: a close
    // that came before these bytes is queued by now, so answers meant for a client that has
    // gone are dropped before the new requests are answered.
    std::vector<std::pair<Clock::time_point, std::vector<uint8_t>>> incoming;
    for (int rounds = 0; rounds < 16; ++rounds) {
      const ssize_t n = ::read(master_, buf.data(), buf.size());
      if (n > 0) {
        incoming.emplace_back(Clock::now(), std::vector<uint8_t>(buf.begin(), buf.begin() + n));
        continue;
      }
      if (n < 0 && errno == EIO) hungUp = true;  // no slave open at all
      break;
    }
    if (inotify_ >= 0) ClientsChanged(events);
    for (const auto& [t, bytes] : incoming) {
      lastByte_ = t;
      std::vector<RequestReader::Result> frames;
      reader_.Feed(bytes.data(), bytes.size(), t, frames);
      for (const auto& f : frames) {
        Record(f, t, events);
        HandleRequest(f);
        if (master_ < 0) break;  // the line was dropped
      }
      if (master_ < 0) break;
    }
    if (master_ < 0) {
      lock.unlock();
      Notify(events);
      break;
    }
    // A partial request that stopped coming is dropped.
    if (reader_.Partial() && config_.frameGapMs > 0 &&
        Clock::now() - lastByte_ >= std::chrono::milliseconds(config_.frameGapMs)) {
      RequestReader::Result partial;
      if (reader_.TakePartial(partial)) Record(partial, lastByte_, events);
    }
    WriteDue(events);
    lock.unlock();
    Notify(events);
  }
  std::lock_guard lock(mu_);
  running_ = false;
  cv_.notify_all();
}

void Simulator::ClientsChanged(std::vector<Event>& events) {
  alignas(inotify_event) char buf[4096];
  bool closed = false;
  for (;;) {
    const ssize_t n = ::read(inotify_, buf, sizeof buf);
    if (n <= 0) break;
    for (ssize_t off = 0; off < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(buf + off);
      off += ssize_t(sizeof(inotify_event) + e->len);
      if (e->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) closed = true;
    }
  }
  if (!closed) return;
  // As a serial port drops what arrives while it is closed: answers that the client which
  // closed did not read, or that were still to be sent, are not left for the next client.
  ::tcflush(slave_, TCIFLUSH);
  out_.clear();
  outBlocked_ = false;
  RequestReader::Result partial;
  if (reader_.TakePartial(partial)) Record(partial, lastByte_, events);
}

void Simulator::Record(const RequestReader::Result& r, Clock::time_point last,
                       std::vector<Event>& events) {
  Frame f{last, r.bytes, r.crcOk, r.first};
  received_.push_back(f);
  ++receivedCount_;
  if (config_.recordLimit && received_.size() > config_.recordLimit) {
    received_.pop_front();
    ++receivedBase_;
  }
  if (observer_) events.push_back({false, std::move(f)});
  cv_.notify_all();
}

bool Simulator::Matches(const Fault& f, const std::vector<uint8_t>& req) {
  const int cmd = req[3];
  if (f.command != kAny && f.command != cmd) return false;
  const bool sub = req.size() > 6 && cmd == kDownload;
  if (f.subCommand != kAny && (!sub || req[4] != f.subCommand)) return false;
  if (f.blockAddress == kAny && f.blockIndex == kAny) return true;
  if (!sub || req[4] != kDownloadWriteBlock) return false;
  const size_t at = req[2] == 0 ? 7 : 5;
  if (req.size() < at + 3 + 2) return false;
  const int64_t address = req[at] | req[at + 1] << 8 | req[at + 2] << 16;
  const int64_t length = int64_t(req.size()) - int64_t(at + 3 + 2);
  if (f.blockAddress != kAny && f.blockAddress != address) return false;
  if (f.blockIndex != kAny && (length <= 0 || address != f.blockIndex * length)) return false;
  return true;
}

void Simulator::HandleRequest(const RequestReader::Result& r) {
  const std::vector<uint8_t>& req = r.bytes;
  if (!r.crcOk || req.size() < 6) return;
  const uint8_t addr = req[1];
  if (std::find(config_.addresses.begin(), config_.addresses.end(), addr) ==
      config_.addresses.end())
    return;
  if (silent_ || Clock::now() < restartUntil_) return;

  // Faults that hit this request.
  std::vector<const Fault*> active;
  for (size_t i = 0; i < faults_.size(); ++i) {
    const Fault& f = faults_[i];
    if (!Matches(f, req)) continue;
    const int hit = faultHits_[i]++;
    if (hit >= f.skip && (f.count == kForever || hit < f.skip + f.count)) active.push_back(&f);
  }
  auto has = [&active](Fault::Kind k) -> const Fault* {
    for (const Fault* f : active)
      if (f->kind == k) return f;
    return nullptr;
  };
  if (has(Fault::DropLine)) {
    CloseLine();
    dropped_ = true;
    running_ = false;
    cv_.notify_all();
    return;
  }
  if (has(Fault::Silent)) return;

  // The answer: scripted, replaced by a fault, or the device's own.
  std::vector<uint8_t> answer;
  std::vector<uint8_t> data;
  bool raw = false;
  const int cmd = req[3];
  auto script = std::find_if(scripts_.begin(), scripts_.end(), [cmd](const Scripted& s) {
    return s.command == kAny || s.command == cmd;
  });
  if (const Fault* f = has(Fault::Refuse)) {
    data = {f->code};
  } else if (has(Fault::Invalid)) {
    data = {kInvalidCommand};
  } else if (script != scripts_.end()) {
    raw = script->raw;
    (raw ? answer : data) = script->bytes;
    if (--script->times <= 0) scripts_.erase(script);
  } else if (!device_.Handle(req, data)) {
    return;  // no answer due (ACK)
  } else if (config_.restartAfterUpdateMs > 0 && req.size() > 6 && cmd == kDownload &&
             req[4] == kDownloadFinish && data == std::vector<uint8_t>{kDownloadAccepted}) {
    // The answer still goes out; the restart silences what comes after it.
    restartUntil_ = Clock::now() + std::chrono::milliseconds(config_.restartAfterUpdateMs);
  }
  if (!raw) {
    if (const Fault* f = has(Fault::ShortData))
      data.resize(std::min(data.size(), size_t(std::max(0, f->bytes))));
    answer = MakeAnswer(addr, data);
    if (const Fault* f = has(Fault::OverLength)) {
      const size_t total = f->bytes > 0 ? std::min<size_t>(size_t(f->bytes), kMaxFrame) : kMaxFrame;
      if (total >= data.size() + 7) {
        data.resize(total - 7, 0);
        answer = MakeAnswer(addr, data);
      }
    }
    if (const Fault* f = has(Fault::WrongLength)) {
      if (answer.size() >= 3) {
        answer[2] = uint8_t(f->bytes);
        answer.resize(answer.size() - 2);
        AppendCheckCode(answer);
      }
    }
    if (has(Fault::BadCrc) && answer.size() >= 2) {
      answer[answer.size() - 1] ^= 0xFF;
      answer[answer.size() - 2] ^= 0xFF;
    }
    if (has(Fault::SwapCrc) && answer.size() >= 2)
      std::swap(answer[answer.size() - 1], answer[answer.size() - 2]);
  }
  if (const Fault* f = has(Fault::Truncate))
    answer.resize(std::min(answer.size(), size_t(std::max(0, f->bytes))));
  if (answer.empty()) return;

  // When it goes out.
  auto due = Clock::now();
  if (baud_ > 0) {
    const auto lineTime = std::chrono::microseconds(int64_t((req.size() + answer.size()) * 10) *
                                                    1'000'000 / int64_t(baud_));
    due = std::max(due, r.first + lineTime);
  }
  if (const Fault* f = has(Fault::Late)) due += std::chrono::milliseconds(f->delayMs);
  if (!out_.empty()) due = std::max(due, out_.back().due);
  auto pending = std::make_shared<Pending>();
  pending->bytes = answer;
  if (const Fault* f = has(Fault::Drip)) {
    for (size_t i = 0; i < answer.size(); ++i) {
      out_.push_back({due + std::chrono::milliseconds(int64_t(f->delayMs) * int64_t(i)),
                      {answer[i]},
                      pending,
                      i + 1 == answer.size()});
    }
  } else {
    out_.push_back({due, std::move(answer), pending, true});
  }
}

void Simulator::WriteDue(std::vector<Event>& events) {
  outBlocked_ = false;
  while (!out_.empty() && out_.front().due <= Clock::now()) {
    Chunk& c = out_.front();
    const ssize_t n = ::write(master_, c.bytes.data(), c.bytes.size());
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR)
        outBlocked_ = true;
      else
        out_.clear();  // the line is gone; nothing more can be said
      return;
    }
    const auto t = Clock::now();
    if (!c.answer->started) {
      c.answer->started = true;
      c.answer->first = t;
    }
    c.bytes.erase(c.bytes.begin(), c.bytes.begin() + n);
    if (!c.bytes.empty()) {
      outBlocked_ = true;
      return;
    }
    if (c.last) {
      Frame f{t, c.answer->bytes, CheckCodeOk(c.answer->bytes), c.answer->first};
      sent_.push_back(f);
      ++sentCount_;
      if (config_.recordLimit && sent_.size() > config_.recordLimit) sent_.pop_front();
      if (observer_) events.push_back({true, std::move(f)});
      cv_.notify_all();
    }
    out_.pop_front();
  }
}

void Simulator::Notify(std::vector<Event>& events) {
  if (events.empty()) return;
  Observer observer;
  {
    std::lock_guard lock(mu_);
    observer = observer_;
  }
  if (observer)
    for (const Event& e : events) observer(e.sent, e.frame);
}

// ---- Controls.

bool Simulator::InsertBill(int type) {
  std::lock_guard lock(mu_);
  return device_.InsertBill(type);
}

bool Simulator::InsertCoupon(const std::string& digits) {
  std::lock_guard lock(mu_);
  return device_.InsertBill(kCouponBillType, digits);
}

void Simulator::RejectNextBill(uint8_t reason) {
  std::lock_guard lock(mu_);
  device_.RejectNextBill(reason);
}

void Simulator::PowerCycle() {
  std::lock_guard lock(mu_);
  device_.PowerCycle();
}

void Simulator::PowerCycle(uint8_t powerUpStatus) {
  std::lock_guard lock(mu_);
  device_.PowerCycle(powerUpStatus);
}

void Simulator::Jam(bool on, JamKind kind) {
  std::lock_guard lock(mu_);
  device_.SetJam(on, kind);
}

void Simulator::SetCassetteOut(bool out) {
  std::lock_guard lock(mu_);
  device_.SetCassetteOut(out);
}

void Simulator::SetStackerFull(bool full) {
  std::lock_guard lock(mu_);
  device_.SetStackerFull(full);
}

void Simulator::SetFailure(uint8_t code) {
  std::lock_guard lock(mu_);
  device_.SetFailure(code);
}

void Simulator::SetBusy(int polls) {
  std::lock_guard lock(mu_);
  device_.SetBusy(polls);
}

void Simulator::SetSilent(bool silent) {
  std::lock_guard lock(mu_);
  silent_ = silent;
}

void Simulator::ScriptPollAnswers(std::vector<std::vector<uint8_t>> dataBytes) {
  std::lock_guard lock(mu_);
  for (auto& d : dataBytes) scripts_.push_back({kPoll, std::move(d), false, 1});
}

void Simulator::ScriptAnswer(int command, std::vector<uint8_t> dataBytes, int times) {
  std::lock_guard lock(mu_);
  if (times > 0) scripts_.push_back({command, std::move(dataBytes), false, times});
}

void Simulator::ScriptRawAnswer(int command, std::vector<uint8_t> bytes, int times) {
  std::lock_guard lock(mu_);
  if (times > 0) scripts_.push_back({command, std::move(bytes), true, times});
}

void Simulator::ClearScripts() {
  std::lock_guard lock(mu_);
  scripts_.clear();
}

void Simulator::InjectFault(const Fault& fault) {
  std::lock_guard lock(mu_);
  faults_.push_back(fault);
  faultHits_.push_back(0);
}

void Simulator::ClearFaults() {
  std::lock_guard lock(mu_);
  faults_.clear();
  faultHits_.clear();
}

void Simulator::SetBaud(unsigned baud) {
  std::lock_guard lock(mu_);
  baud_ = baud;
}

unsigned Simulator::LineBaud() const {
  termios tio{};
  if (slave_ < 0 || ::tcgetattr(slave_, &tio) != 0) return 0;
  switch (cfgetospeed(&tio)) {
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    default:
      return 0;
  }
}

void Simulator::SetBlockPower(uint8_t power) {
  std::lock_guard lock(mu_);
  device_.SetBlockPower(power);
}

void Simulator::SetObserver(Observer observer) {
  std::lock_guard lock(mu_);
  observer_ = std::move(observer);
}

// ---- Records.

std::vector<Frame> Simulator::ReceivedFrames() const {
  std::lock_guard lock(mu_);
  return {received_.begin(), received_.end()};
}

std::vector<Frame> Simulator::SentFrames() const {
  std::lock_guard lock(mu_);
  return {sent_.begin(), sent_.end()};
}

void Simulator::ClearReceived() {
  std::lock_guard lock(mu_);
  receivedBase_ += received_.size();
  received_.clear();
  receivedCount_ = 0;
}

void Simulator::ClearSent() {
  std::lock_guard lock(mu_);
  sent_.clear();
  sentCount_ = 0;
}

bool Simulator::WaitForFrames(size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return receivedCount_ >= n; });
}

bool Simulator::WaitForSentFrames(size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return sentCount_ >= n; });
}

bool Simulator::WaitForFrame(const std::function<bool(const Frame&)>& pred,
                             std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  size_t next = receivedBase_;  // running number of the next frame to look at
  return cv_.wait_for(lock, timeout, [&] {
    next = std::max(next, receivedBase_);
    for (; next < receivedBase_ + received_.size(); ++next)
      if (pred(received_[next - receivedBase_])) return true;
    return false;
  });
}

bool Simulator::WaitForCommand(uint8_t command, std::chrono::milliseconds timeout) {
  return WaitForFrame([command](const Frame& f) { return f.crcOk && f.Command() == command; },
                      timeout);
}

// ---- State.

std::vector<uint8_t> Simulator::PollAnswer() const {
  std::lock_guard lock(mu_);
  return device_.PollAnswerNow();
}

uint8_t Simulator::StatusCode() const {
  std::lock_guard lock(mu_);
  return device_.PollAnswerNow().at(0);
}

std::array<uint8_t, 3> Simulator::EnabledMask() const {
  std::lock_guard lock(mu_);
  return device_.EnabledMask();
}

std::array<uint8_t, 3> Simulator::EscrowMask() const {
  std::lock_guard lock(mu_);
  return device_.EscrowMask();
}

std::array<uint8_t, 3> Simulator::SecurityMask() const {
  std::lock_guard lock(mu_);
  return device_.SecurityMask();
}

int Simulator::BarcodeLength() const {
  std::lock_guard lock(mu_);
  return device_.BarcodeLength();
}

bool Simulator::InDownloadMode() const {
  std::lock_guard lock(mu_);
  return device_.InDownloadMode();
}

size_t Simulator::PendingBills() const {
  std::lock_guard lock(mu_);
  return device_.PendingBills();
}

Counters Simulator::GetCounters() const {
  std::lock_guard lock(mu_);
  return device_.GetCounters();
}

Statistics Simulator::GetStatistics() const {
  std::lock_guard lock(mu_);
  return device_.GetStatistics();
}

std::vector<uint8_t> Simulator::Firmware() const {
  std::lock_guard lock(mu_);
  return device_.Firmware();
}

uint32_t Simulator::FirmwareCrc32() const {
  std::lock_guard lock(mu_);
  return Crc32(device_.Firmware());
}

}  // namespace bvsim
