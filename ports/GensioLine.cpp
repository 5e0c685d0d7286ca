// Every call into the gensio library lives in this file.
//
// Threads. One service thread of ours runs the library's event loop for the whole process; it
// is the only thread that ever waits inside the library. Callers (a window's thread, a batch's
// port threads) call the library's non-blocking functions and wait on a condition variable of
// their own, with a deadline. Because several threads call into the library, it needs a wake
// signal (SIGUSR1) to interrupt its loop: the service thread keeps every signal blocked except
// while the library waits (it unblocks the wake signal there alone), so SIGINT and SIGTERM go
// to the program's other threads and their handlers, and the wake signal gets an empty handler
// when the program has none. A write to a connection the peer has closed raises SIGPIPE in the
// writing thread: each call that may write holds it blocked and takes back what it raised.
#include "GensioLine.h"

#include <gensio/gensio.h>
#include <gensio/gensio_os_funcs.h>
#include <gensio/sergensio.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

namespace zelnet_ports {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWakeSignal = SIGUSR1;
// Received bytes kept for the reader; beyond this the oldest are dropped, as a port's driver
// overruns, so reading stays enabled and control answers keep arriving.
constexpr size_t kInputLimit = 64 * 1024;
constexpr int kCloseWaitMs = 1000;

void IgnoreWake(int) {}

// The library's event loop on a thread of its own, for the life of the process.
class Service {
 public:
  static Service* Get(QString& error) {
    static Service service;
    if (!service.os_) error = service.error_;
    return service.os_ ? &service : nullptr;
  }

  gensio_os_funcs* os() const { return os_; }

  ~Service() {
    if (!thread_.joinable()) return;
    stop_ = true;
    if (waker_) gensio_os_funcs_run(os_, waker_);
    thread_.join();
    if (waker_) gensio_os_funcs_free_runner(os_, waker_);
  }

 private:
  Service() {
    struct sigaction current {};
    sigaction(kWakeSignal, nullptr, &current);
    if (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN) {
      struct sigaction sa {};
      sa.sa_handler = IgnoreWake;
      sigemptyset(&sa.sa_mask);
      sa.sa_flags = SA_RESTART;
      sigaction(kWakeSignal, &sa, nullptr);
    }
    // The thread starts with every signal blocked; the caller's mask is restored at once.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    std::promise<void> ready;
    std::future<void> started = ready.get_future();
    thread_ = std::thread([this, &ready] { Run(ready); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    started.wait();
  }

  void Run(std::promise<void>& ready) {
    gensio_os_funcs* os = nullptr;
    const int err = gensio_default_os_hnd(kWakeSignal, &os);
    if (err) {
      error_ = QStringLiteral("the network library does not start: %1")
                   .arg(QString::fromUtf8(gensio_err_to_str(err)));
      ready.set_value();
      return;
    }
    waker_ = gensio_os_funcs_alloc_runner(
        os, [](gensio_runner*, void*) {}, nullptr);
    os_ = os;
    ready.set_value();
    while (!stop_) {
      gensio_time timeout{600, 0};
      gensio_os_funcs_service(os, &timeout);
    }
  }

  gensio_os_funcs* os_ = nullptr;
  gensio_runner* waker_ = nullptr;
  QString error_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Holds SIGPIPE blocked in this thread for a call that may write to a socket, then takes back
// the one it raised (not one that was pending before).
class NoSigpipe {
 public:
  NoSigpipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  }
  ~NoSigpipe() {
    if (!wasPending_) {
      const timespec none{0, 0};
      sigtimedwait(&pipe_, nullptr, &none);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t pipe_, old_;
  bool wasPending_ = false;
};

QString ErrText(int err) {
  return QString::fromUtf8(gensio_err_to_str(err));
}

QString Where(const Target& t) {
  return t.kind == TargetKind::Gensio ? t.text : QStringLiteral("%1:%2").arg(t.host).arg(t.port);
}

// A file name inside a gensio option, quoted; empty when it holds a character that the
// option syntax cannot carry.
QString Quoted(const QString& path) {
  if (path.contains(QLatin1Char('"')) || path.contains(QLatin1Char('\\'))) return {};
  return QLatin1Char('"') + path + QLatin1Char('"');
}

}  // namespace

// What the service thread and the line's user share. Freed when the library has let go of it
// (after the close completes), whoever is gone first.
struct NetLine::Core {
  gensio* io = nullptr;
  sergensio* sio = nullptr;
  TargetKind kind = TargetKind::Rfc2217;

  mutable std::mutex m;
  std::condition_variable cv;
  bool openDone = false;
  int openErr = 0;
  bool closeDone = false;
  std::deque<uint8_t> input;
  bool writeReady = false;
  bool lost = false;
  QString lostReason;
  QString certProblem;  // what the TLS layer said of the server's certificate
  // Serial control answers, counted so a waiter knows a new one came.
  uint64_t baudAnswers = 0;
  int baudErr = 0;
  unsigned baudValue = 0;
  // Set while the library may still call back: keeps the core alive until the close is done.
  std::shared_ptr<Core> self;

  static int Event(gensio* io, void* user, int event, int err, unsigned char* buf, gensiods* buflen,
                   const char* const* auxdata);
  static void OpenDone(gensio* io, int err, void* data);
  static void CloseDone(gensio* io, void* data);
  static void BaudDone(sergensio* sio, int err, unsigned val, void* data);

  void MarkLost(const QString& why) {
    std::lock_guard lock(m);
    if (!lost) {
      lost = true;
      lostReason = why;
    }
    cv.notify_all();
  }

  // Starts the close (the core lives on until it is done) and waits a little for it.
  static void Close(const std::shared_ptr<Core>& core);
};

int NetLine::Core::Event(gensio*, void* user, int event, int err, unsigned char* buf,
                         gensiods* buflen, const char* const* auxdata) {
  Core* core = static_cast<Core*>(user);
  switch (event) {
    case GENSIO_EVENT_READ: {
      if (err) {
        core->MarkLost(err == GE_REMCLOSE
                           ? QStringLiteral("the server closed the connection")
                           : QStringLiteral("connection lost: %1").arg(ErrText(err)));
        return 0;
      }
      std::lock_guard lock(core->m);
      const gensiods n = buflen ? *buflen : 0;
      core->input.insert(core->input.end(), buf, buf + n);
      if (core->input.size() > kInputLimit) {
        core->input.erase(
            core->input.begin(),
            core->input.begin() + static_cast<long>(core->input.size() - kInputLimit));
      }
      core->cv.notify_all();
      return 0;
    }
    case GENSIO_EVENT_WRITE_READY: {
      gensio_set_write_callback_enable(core->io, false);
      std::lock_guard lock(core->m);
      core->writeReady = true;
      core->cv.notify_all();
      return 0;
    }
    case GENSIO_EVENT_POSTCERT_VERIFY: {
      if (err) {
        std::lock_guard lock(core->m);
        core->certProblem = auxdata && auxdata[0] ? QString::fromUtf8(auxdata[0]) : ErrText(err);
      }
      return GE_NOTSUP;  // the library's own verdict stands
    }
    default:
      return GE_NOTSUP;
  }
}

void NetLine::Core::OpenDone(gensio*, int err, void* data) {
  Core* core = static_cast<Core*>(data);
  std::lock_guard lock(core->m);
  core->openDone = true;
  core->openErr = err;
  core->cv.notify_all();
}

void NetLine::Core::CloseDone(gensio* io, void* data) {
  Core* core = static_cast<Core*>(data);
  gensio_free(io);
  std::shared_ptr<Core> keep;
  {
    std::lock_guard lock(core->m);
    core->closeDone = true;
    core->io = nullptr;
    keep = std::move(core->self);
    core->cv.notify_all();
  }
  // `keep` may hold the last reference: the core ends here, after its mutex is released.
}

void NetLine::Core::BaudDone(sergensio*, int err, unsigned val, void* data) {
  Core* core = static_cast<Core*>(data);
  std::lock_guard lock(core->m);
  ++core->baudAnswers;
  core->baudErr = err;
  core->baudValue = err ? 0 : val;
  core->cv.notify_all();
}

void NetLine::Core::Close(const std::shared_ptr<Core>& core) {
  gensio* io = nullptr;
  {
    std::lock_guard lock(core->m);
    if (!core->io || core->self) return;  // never opened, or a close is under way
    io = core->io;
    core->self = core;
  }
  int err;
  {
    NoSigpipe guard;
    gensio_set_read_callback_enable(io, false);
    gensio_set_write_callback_enable(io, false);
    err = gensio_close(io, CloseDone, core.get());
  }
  if (err) {
    // Already closed by the library (a dropped connection): nothing will call back.
    gensio_free(io);
    std::lock_guard lock(core->m);
    core->io = nullptr;
    core->closeDone = true;
    core->self.reset();
    return;
  }
  std::unique_lock lock(core->m);
  core->cv.wait_for(lock, std::chrono::milliseconds(kCloseWaitMs), [&] { return core->closeDone; });
}

// ---- Files and stacks ----------------------------------------------------------------------

bool FindTlsFiles(TlsFiles& files, QString& error) {
  const QString userDir =
      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/zelnet/tls";
  const QString systemDir = QStringLiteral("/etc/zelnet/tls");
  const QString dir = QFileInfo::exists(userDir + "/client.crt") ? userDir : systemDir;
  files = TlsFiles{dir, dir + "/client.crt", dir + "/client.key", dir + "/ca.crt"};
  QStringList missing;
  for (const QString& f : {files.cert, files.key, files.ca}) {
    if (!QFileInfo(f).isReadable()) missing << QFileInfo(f).fileName();
  }
  if (missing.isEmpty()) return true;
  error = QStringLiteral("TLS: no readable %1 in %2 (nor a client.crt in %3)")
              .arg(missing.join(QStringLiteral(", ")), dir, dir == userDir ? systemDir : userDir);
  if (dir == systemDir) {
    error = QStringLiteral(
                "TLS: no client certificate: %1 has no readable %2, and %3 has no "
                "client.crt")
                .arg(systemDir, missing.join(QStringLiteral(", ")), userDir);
  }
  return false;
}

QString GensioStack(const Target& target, QString& error) {
  const QString address = QStringLiteral("tcp,%1,%2").arg(target.host).arg(target.port);
  switch (target.kind) {
    case TargetKind::Device:
      error = QStringLiteral("%1 is a device, not a network target").arg(target.text);
      return {};
    case TargetKind::Tcp:
      return address;
    case TargetKind::Rfc2217:
      return QStringLiteral("telnet(rfc2217),") + address;
    case TargetKind::Rfc2217Tls: {
      TlsFiles files;
      if (!FindTlsFiles(files, error)) return {};
      const QString ca = Quoted(files.ca), cert = Quoted(files.cert), key = Quoted(files.key);
      if (ca.isEmpty() || cert.isEmpty() || key.isEmpty()) {
        error = QStringLiteral("TLS: the folder %1 has a name with \" or \\ in it").arg(files.dir);
        return {};
      }
      return QStringLiteral("telnet(rfc2217),ssl(CA=%1,cert=%2,key=%3),").arg(ca, cert, key) +
             address;
    }
    case TargetKind::Gensio:
      return target.gensio;
  }
  return {};
}

// ---- The line ------------------------------------------------------------------------------

NetLine::NetLine(const Target& target, std::shared_ptr<Core> core)
    : target_(target), core_(std::move(core)) {}

NetLine::~NetLine() {
  Core::Close(core_);
}

std::unique_ptr<NetLine> NetLine::Open(const Target& target, QString& error, int timeoutMs,
                                       bool* answered) {
  bool answeredHere = false;
  if (!answered) answered = &answeredHere;
  *answered = false;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  const QString where = Where(target);
  const QString stack = GensioStack(target, error);
  if (stack.isEmpty()) return nullptr;
  Service* service = Service::Get(error);
  if (!service) return nullptr;

  auto core = std::make_shared<Core>();
  core->kind = target.kind;
  int err =
      str_to_gensio(stack.toUtf8().constData(), service->os(), Core::Event, core.get(), &core->io);
  if (err) {
    core->io = nullptr;
    error = QStringLiteral("%1: not a usable connection (%2)").arg(target.text, ErrText(err));
    return nullptr;
  }
  // From here on the core is released through Close, which waits for the library.
  auto line = std::unique_ptr<NetLine>(new NetLine(target, core));
  {
    NoSigpipe guard;
    err = gensio_open(core->io, Core::OpenDone, core.get());
  }
  if (err) {
    gensio_free(core->io);
    core->io = nullptr;
    error = QStringLiteral("%1: cannot connect (%2)").arg(where, ErrText(err));
    return nullptr;
  }
  {
    std::unique_lock lock(core->m);
    if (!core->cv.wait_until(lock, deadline, [&] { return core->openDone; })) {
      error = QStringLiteral(
                  "%1: no connection within %2 s (the server does not answer, or "
                  "never finishes the telnet negotiation)")
                  .arg(where)
                  .arg(timeoutMs / 1000.0);
      lock.unlock();
      return nullptr;  // the line's destructor closes the half-open connection
    }
    if (core->openErr) {
      const int e = core->openErr;
      const QString cert = core->certProblem;
      lock.unlock();
      *answered = e != GE_CONNREFUSE && e != GE_HOSTDOWN && e != GE_TIMEDOUT &&
                  (e < GE_UNKNOWN_NAME_ERROR || e > GE_NAME_NET_NOT_UP);
      if (e == GE_CONNREFUSE) {
        error = QStringLiteral("%1: connection refused").arg(where);
      } else if (target.kind == TargetKind::Rfc2217Tls &&
                 (!cert.isEmpty() || e == GE_CERTINVALID || e == GE_CERTNOTFOUND ||
                  e == GE_CERTEXPIRED || e == GE_CERTREVOKED || e == GE_KEYINVALID ||
                  e == GE_NOCERT)) {
        error = QStringLiteral("%1: TLS: the server's certificate is not trusted (%2)")
                    .arg(where, cert.isEmpty() ? ErrText(e) : cert);
      } else if (target.kind == TargetKind::Rfc2217Tls) {
        error = QStringLiteral("%1: TLS: the server refused our certificate (%2)")
                    .arg(where, ErrText(e));
      } else {
        error = QStringLiteral("%1: %2").arg(where, ErrText(e));
      }
      // The library closed what it opened; nothing calls back any more.
      gensio_free(core->io);
      core->io = nullptr;
      return nullptr;
    }
  }
  {
    NoSigpipe guard;
    gensio_set_read_callback_enable(core->io, true);
  }
  if (target.kind != TargetKind::Tcp) core->sio = gensio_to_sergensio(core->io);
  *answered = true;

  // An RFC 2217 server answers the baud rate query; one that refused the option cannot.
  if (target.kind == TargetKind::Rfc2217 || target.kind == TargetKind::Rfc2217Tls) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (!core->sio || line->QueryBaud(static_cast<int>(std::max<long long>(left, 1))) == 0) {
      QString why;
      {
        std::lock_guard lock(core->m);
        why = core->lost          ? core->lostReason
              : core->baudAnswers ? QStringLiteral(
                                        "the server refuses the COM-PORT "
                                        "option: %1")
                                        .arg(ErrText(core->baudErr))
                                  : QStringLiteral("no RFC 2217 answer in time");
      }
      error =
          target.kind == TargetKind::Rfc2217Tls && core->lost
              ? QStringLiteral("%1: TLS: the server refused our certificate (%2)").arg(where, why)
              : QStringLiteral("%1: not an RFC 2217 port (%2)").arg(where, why);
      return nullptr;
    }
  }
  return line;
}

bool NetLine::CarriesSignals() const {
  return core_->sio != nullptr;
}

uint32_t NetLine::QueryBaud(int waitMs) {
  if (!core_->sio || Lost()) return 0;
  uint64_t before;
  {
    std::lock_guard lock(core_->m);
    before = core_->baudAnswers;
  }
  int err;
  {
    NoSigpipe guard;
    err = sergensio_baud(core_->sio, 0, Core::BaudDone, core_.get());
  }
  if (err) return 0;
  std::unique_lock lock(core_->m);
  core_->cv.wait_for(lock, std::chrono::milliseconds(waitMs),
                     [&] { return core_->baudAnswers > before || core_->lost; });
  return core_->baudAnswers > before && !core_->baudErr ? core_->baudValue : 0;
}

bool NetLine::SetBaud(uint32_t baud, int waitMs) {
  if (!core_->sio) return !Lost();
  if (Lost() || baud == 0) return false;
  uint64_t before;
  {
    std::lock_guard lock(core_->m);
    before = core_->baudAnswers;
  }
  int err;
  {
    NoSigpipe guard;
    err = sergensio_baud(core_->sio, baud, Core::BaudDone, core_.get());
  }
  if (err) return false;
  std::unique_lock lock(core_->m);
  core_->cv.wait_for(lock, std::chrono::milliseconds(waitMs),
                     [&] { return core_->baudAnswers > before || core_->lost; });
  return core_->baudAnswers > before && !core_->baudErr && core_->baudValue == baud;
}

bool NetLine::SetRts(bool high) {
  if (!core_->sio || Lost()) return false;
  NoSigpipe guard;
  return sergensio_rts(core_->sio, high ? SERGENSIO_RTS_ON : SERGENSIO_RTS_OFF, nullptr, nullptr) ==
         0;
}

bool NetLine::SetDtr(bool high) {
  if (!core_->sio || Lost()) return false;
  NoSigpipe guard;
  return sergensio_dtr(core_->sio, high ? SERGENSIO_DTR_ON : SERGENSIO_DTR_OFF, nullptr, nullptr) ==
         0;
}

size_t NetLine::Write(const uint8_t* data, size_t size, int timeoutMs) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t total = 0;
  while (total < size && !Lost()) {
    gensiods taken = 0;
    int err;
    {
      std::lock_guard lock(core_->m);
      core_->writeReady = false;
    }
    {
      NoSigpipe guard;
      err = gensio_write(core_->io, &taken, data + total, size - total, nullptr);
    }
    if (err) {
      core_->MarkLost(QStringLiteral("connection lost: %1").arg(ErrText(err)));
      break;
    }
    total += taken;
    if (total == size) break;
    {
      NoSigpipe guard;
      gensio_set_write_callback_enable(core_->io, true);
    }
    std::unique_lock lock(core_->m);
    if (!core_->cv.wait_until(lock, deadline, [&] { return core_->writeReady || core_->lost; }))
      break;
  }
  return total;
}

size_t NetLine::Read(uint8_t* into, size_t max, int waitMs) {
  if (max == 0) return 0;
  std::unique_lock lock(core_->m);
  core_->cv.wait_for(lock, std::chrono::milliseconds(std::max(waitMs, 0)),
                     [&] { return !core_->input.empty() || core_->lost; });
  const size_t n = std::min(max, core_->input.size());
  std::copy_n(core_->input.begin(), n, into);
  core_->input.erase(core_->input.begin(), core_->input.begin() + static_cast<long>(n));
  return n;
}

size_t NetLine::Available() const {
  std::lock_guard lock(core_->m);
  return core_->input.size();
}

void NetLine::ClearInput() {
  std::lock_guard lock(core_->m);
  core_->input.clear();
}

bool NetLine::Lost() const {
  std::lock_guard lock(core_->m);
  return core_->lost;
}

QString NetLine::LostReason() const {
  std::lock_guard lock(core_->m);
  return core_->lostReason;
}

NetCheck CheckNetTarget(const Target& target, int timeoutMs) {
  NetCheck check;
  QString error;
  std::unique_ptr<NetLine> line = NetLine::Open(target, error, timeoutMs, &check.reachable);
  if (!line) {
    check.problem = error;
    return check;
  }
  check.reachable = true;
  check.negotiated = line->CarriesSignals();
  check.tlsVerified = target.kind == TargetKind::Rfc2217Tls;
  if (line->CarriesSignals()) {
    check.baud = line->QueryBaud(timeoutMs);
    if (check.baud == 0) check.problem = QStringLiteral("the server does not tell its baud rate");
  }
  return check;
}

}  // namespace zelnet_ports
