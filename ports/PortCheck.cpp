#include "PortCheck.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <vector>

#include "GensioLine.h"
#include "Target.h"

namespace zelnet_ports {

namespace {

// Where UUCP lock files "LCK..ttyUSB0" are kept (QSerialPort among others writes them).
const char* const kLockFolders[] = {"/run/lock", "/var/lock", "/tmp"};
// A lock file holds a process id and a few words; nothing longer is read.
constexpr qint64 kMaxLockBytes = 128;
// The /proc scan gives up after this many open files, so a huge machine cannot stall a check.
constexpr int kMaxFdsScanned = 200000;

QString ErrnoText(int error) {
  return QString::fromLocal8Bit(std::strerror(error)).toLower();
}

bool Alive(pid_t pid) {
  return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

QString ProcessText(pid_t pid) {
  QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
  QString name;
  if (comm.open(QIODevice::ReadOnly)) name = QString::fromUtf8(comm.read(64)).trimmed();
  if (name.isEmpty()) return QStringLiteral("process %1").arg(pid);
  return QStringLiteral("%1 (pid %2)").arg(name).arg(pid);
}

pid_t LockOwner(const QString& lockPath) {
  QFile file(lockPath);
  if (!file.open(QIODevice::ReadOnly)) return 0;
  const QByteArray bytes = file.read(kMaxLockBytes);
  bool ok = false;
  const long text = bytes.split('\n').value(0).trimmed().toLong(&ok);
  if (ok) return static_cast<pid_t>(text);
  // The old binary form: the process id as a native int of four bytes.
  if (bytes.size() == 4) {
    int binary = 0;
    std::memcpy(&binary, bytes.constData(), sizeof binary);
    return static_cast<pid_t>(binary);
  }
  return 0;
}

// The first process but this one with `device` (a canonical path) among its open files.
pid_t ProcHolder(const QByteArray& device) {
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  const pid_t self = getpid();
  pid_t holder = 0;
  int scanned = 0;
  while (const dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == self) continue;
    const std::string fdPath = "/proc/" + std::string(entry->d_name) + "/fd";
    DIR* fds = opendir(fdPath.c_str());
    if (!fds) continue;  // another user's process, or gone
    while (const dirent* fd = readdir(fds)) {
      if (++scanned > kMaxFdsScanned) break;
      if (fd->d_name[0] == '.') continue;
      char target[PATH_MAX];
      const std::string link = fdPath + "/" + fd->d_name;
      const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
      if (n <= 0) continue;
      if (device == QByteArray(target, static_cast<int>(n))) {
        holder = static_cast<pid_t>(pid);
        break;
      }
    }
    closedir(fds);
    if (holder || scanned > kMaxFdsScanned) break;
  }
  closedir(proc);
  return holder;
}

// Group and user names, thread-safe.
QString GroupName(gid_t gid) {
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
  return QString::fromLocal8Bit(found->gr_name);
}

// Whether the group database lists this process's user in `group` (as a member or by the
// user's own group).
bool ListedInGroup(const QString& groupName) {
  std::vector<char> pwBuffer(16384), grBuffer(65536);
  passwd pw{};
  passwd* user = nullptr;
  if (getpwuid_r(geteuid(), &pw, pwBuffer.data(), pwBuffer.size(), &user) != 0 || !user)
    return false;
  group gr{};
  group* found = nullptr;
  if (getgrnam_r(groupName.toLocal8Bit().constData(), &gr, grBuffer.data(), grBuffer.size(),
                 &found) != 0 ||
      !found)
    return false;
  if (user->pw_gid == found->gr_gid) return true;
  for (char** member = found->gr_mem; member && *member; ++member) {
    if (std::strcmp(*member, user->pw_name) == 0) return true;
  }
  return false;
}

bool InSessionGroup(const QString& groupName) {
  std::vector<char> buffer(65536);
  group gr{};
  group* found = nullptr;
  if (getgrnam_r(groupName.toLocal8Bit().constData(), &gr, buffer.data(), buffer.size(), &found) !=
          0 ||
      !found)
    return false;
  if (getegid() == found->gr_gid) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = getgroups(count, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[static_cast<size_t>(i)] == found->gr_gid) return true;
  }
  return false;
}

// The group whose members may open a device: its own group when that group may read and write
// it, otherwise dialout, the group of serial ports.
QString PermissionFix(const struct stat* st) {
  QString group = QStringLiteral("dialout");
  if (st && (st->st_mode & S_IRGRP) && (st->st_mode & S_IWGRP)) {
    const QString own = GroupName(st->st_gid);
    if (!own.isEmpty() && own != QLatin1String("root")) group = own;
  }
  if (ListedInGroup(group) && !InSessionGroup(group)) {
    return QStringLiteral(
               "you are in the group %1, but this session started before you were added: "
               "log out and log in again")
        .arg(group);
  }
  return QStringLiteral(
             "add your user to the group %1: sudo adduser $USER %1, then log out and log in "
             "again")
      .arg(group);
}

QString InUseFix() {
  return QStringLiteral("end the program that holds it, or name another port");
}

PortCheck Result(PortState state, QString detail, QString fix = {}) {
  return PortCheck{state, std::move(detail), std::move(fix)};
}

// The names of a device's UUCP lock file: "LCK..ttyUSB0" for /dev/ttyUSB0, "LCK..pts_3" for
// /dev/pts/3 (the rest of the path with '_' for '/', as QSerialPort writes them).
QStringList LockNames(const QString& path) {
  QString rest = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
  rest.replace(QLatin1Char('/'), QLatin1Char('_'));
  QStringList names{QStringLiteral("LCK..") + rest};
  const QString base = QStringLiteral("LCK..") + QFileInfo(path).fileName();
  if (base != names.first()) names << base;
  return names;
}

}  // namespace

QString FindHolder(const QString& devicePath) {
  const QFileInfo info(devicePath);
  const QString canonical = info.canonicalFilePath();
  QStringList names = LockNames(devicePath);
  if (!canonical.isEmpty() && canonical != devicePath) names << LockNames(canonical);
  for (const char* folder : kLockFolders) {
    for (const QString& name : names) {
      const pid_t pid = LockOwner(QStringLiteral("%1/%2").arg(QLatin1String(folder), name));
      if (pid != getpid() && Alive(pid)) return QStringLiteral("in use by ") + ProcessText(pid);
    }
  }
  // A pseudo-terminal is always held by the program that made it (bvsim, socat): for it only a
  // lock file tells a client.
  struct stat st {};
  const QByteArray path = (canonical.isEmpty() ? devicePath : canonical).toLocal8Bit();
  if (stat(path.constData(), &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
      major(st.st_rdev) <= 143)
    return {};
  if (const pid_t pid = ProcHolder(path)) return QStringLiteral("in use by ") + ProcessText(pid);
  return {};
}

// What a network target offers when it is opened as a program would open it.
static PortCheck ProbeNetwork(const Target& target) {
  const NetCheck net = CheckNetTarget(target);
  if (!net.reachable || !net.problem.isEmpty())
    return Result(PortState::Unreachable,
                  net.problem.isEmpty() ? QStringLiteral("no connection") : net.problem);
  QStringList found{QStringLiteral("connected")};
  if (net.negotiated) found << QStringLiteral("RFC 2217 negotiated");
  if (net.tlsVerified) found << QStringLiteral("TLS verified");
  if (net.baud) found << QStringLiteral("remote port at %1 baud").arg(net.baud);
  PortCheck check = Result(PortState::Reachable, found.join(QStringLiteral(", ")));
  check.remoteBaud = net.baud;
  return check;
}

PortCheck CheckTarget(const QString& target, bool probeNetwork) {
  if (target.isEmpty()) return Result(PortState::Unassigned, QStringLiteral("no target"));
  QString why;
  const std::optional<Target> parsed = ParseTarget(target, &why);
  if (!parsed) return Result(PortState::NotSerial, why);
  if (IsNetwork(*parsed)) {
    if (probeNetwork) return ProbeNetwork(*parsed);
    return Result(PortState::NotChecked, QStringLiteral("not checked"));
  }

  const QByteArray path = target.toLocal8Bit();
  struct stat st {};
  if (stat(path.constData(), &st) != 0) {
    const int error = errno;
    if (error == EACCES)
      return Result(PortState::PermissionDenied, ErrnoText(error), PermissionFix(nullptr));
    return Result(PortState::Missing, ErrnoText(error));
  }
  if (!S_ISCHR(st.st_mode))
    return Result(PortState::NotSerial, QStringLiteral("not a character device"));
  const int fd = open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    switch (error) {
      case EACCES:
      case EPERM:
        return Result(PortState::PermissionDenied, ErrnoText(error), PermissionFix(&st));
      case EBUSY:
        return Result(PortState::InUse, QStringLiteral("in use by another process"), InUseFix());
      case EIO:
      case ENXIO:
      case ENODEV:
        return Result(PortState::Missing,
                      QStringLiteral("no hardware behind it (%1)").arg(ErrnoText(error)));
      default:
        return Result(PortState::NotSerial, ErrnoText(error));
    }
  }
  termios settings{};
  const bool isTty = tcgetattr(fd, &settings) == 0;
  int exclusive = 0;
  const bool held = isTty && ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
  close(fd);
  if (!isTty) return Result(PortState::NotSerial, QStringLiteral("not a terminal device"));
  // Holders that did not ask for exclusive use (a lock file, an open file seen in /proc) are
  // named too: a second program on the line would garble both.
  const QString holder = FindHolder(target);
  if (!holder.isEmpty()) return Result(PortState::InUse, holder, InUseFix());
  if (held)
    return Result(PortState::InUse,
                  QStringLiteral("in use by another process (opened for exclusive use)"),
                  InUseFix());
  return Result(PortState::Present, {});
}

QString PortCheck::Reason() const {
  const QString words = StateText(state);
  if (detail.isEmpty() || detail == words) return words;
  if (detail.startsWith(words)) return detail;
  return words + QStringLiteral(": ") + detail;
}

QString StateText(PortState state) {
  switch (state) {
    case PortState::Present:
      return QStringLiteral("present");
    case PortState::Missing:
      return QStringLiteral("missing");
    case PortState::PermissionDenied:
      return QStringLiteral("permission denied");
    case PortState::InUse:
      return QStringLiteral("in use");
    case PortState::NotSerial:
      return QStringLiteral("not a serial device");
    case PortState::NotChecked:
      return QStringLiteral("network");
    case PortState::Reachable:
      return QStringLiteral("reachable");
    case PortState::Unreachable:
      return QStringLiteral("unreachable");
    case PortState::Unassigned:
      break;
  }
  return QStringLiteral("unassigned");
}

}  // namespace zelnet_ports
