#include "Discovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace zelnet_ports {

namespace {

// sysfs attributes are short; anything longer is not one.
constexpr qint64 kMaxAttributeBytes = 256;
// How far above a tty's device its USB device may sit (interface, then device).
constexpr int kMaxUsbLevels = 4;

QString ReadAttribute(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.read(kMaxAttributeBytes)).trimmed();
}

// The file name a link points at ("../../ttyUSB0" gives "ttyUSB0").
QString LinkedName(const QFileInfo& link) {
  return QFileInfo(link.symLinkTarget()).fileName();
}

// Fills the USB identity of `adapter` from the first folder above `device` that holds idVendor.
void ReadUsbIdentity(const QString& device, const QString& sysRoot, Adapter& adapter) {
  QDir dir(device);
  for (int level = 0; level <= kMaxUsbLevels; ++level) {
    const QString here = dir.absolutePath();
    if (!here.startsWith(sysRoot)) return;
    if (QFileInfo::exists(dir.filePath(QStringLiteral("idVendor")))) {
      bool okV = false, okP = false;
      adapter.vendorId = ReadAttribute(dir.filePath(QStringLiteral("idVendor"))).toUShort(&okV, 16);
      adapter.productId =
          ReadAttribute(dir.filePath(QStringLiteral("idProduct"))).toUShort(&okP, 16);
      adapter.hasIds = okV && okP;
      adapter.manufacturer = ReadAttribute(dir.filePath(QStringLiteral("manufacturer")));
      adapter.description = ReadAttribute(dir.filePath(QStringLiteral("product")));
      adapter.serialNumber = ReadAttribute(dir.filePath(QStringLiteral("serial")));
      return;
    }
    if (!dir.cdUp()) return;
  }
}

// The first link of `folder` (root/dev/serial/by-id or by-path) to each kernel name.
void ReadLinks(const QString& root, const QString& kind, std::vector<Adapter>& adapters) {
  const QString folder = QStringLiteral("/dev/serial/") + kind;
  QDir dir(root + folder);
  const QFileInfoList links =
      dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
  for (const QFileInfo& link : links) {
    if (!link.isSymLink()) continue;
    const QString kernel = LinkedName(link);
    for (Adapter& adapter : adapters) {
      if (adapter.kernelName != kernel) continue;
      QString& slot = kind == QLatin1String("by-id") ? adapter.byId : adapter.byPath;
      if (slot.isEmpty()) slot = folder + QLatin1Char('/') + link.fileName();
    }
  }
}

}  // namespace

QString SystemRoot() {
  QString root = qEnvironmentVariable("ZELNET_PORTS_ROOT");
  if (root.isEmpty() || QDir::isRelativePath(root)) return {};
  while (root.endsWith(QLatin1Char('/'))) root.chop(1);
  return root;
}

bool NaturalLess(const QString& a, const QString& b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      qsizetype ei = i, ej = j;
      while (ei < a.size() && a[ei].isDigit()) ++ei;
      while (ej < b.size() && b[ej].isDigit()) ++ej;
      // Numbers compare by their value: without leading zeros, the longer is the larger.
      QStringView na = QStringView(a).mid(i, ei - i), nb = QStringView(b).mid(j, ej - j);
      while (na.size() > 1 && na.front() == QLatin1Char('0')) na = na.mid(1);
      while (nb.size() > 1 && nb.front() == QLatin1Char('0')) nb = nb.mid(1);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (const int c = na.compare(nb); c != 0) return c < 0;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::vector<Adapter> DiscoverPorts(const QString& root) {
  const QString sysRoot = QFileInfo(root + QStringLiteral("/sys")).canonicalFilePath();
  std::vector<Adapter> found;
  if (sysRoot.isEmpty()) return found;
  QDir classTty(root + QStringLiteral("/sys/class/tty"));
  for (const QString& name :
       classTty.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
    const QString entry = classTty.filePath(name);
    const QString device = QFileInfo(entry + QStringLiteral("/device")).canonicalFilePath();
    if (device.isEmpty()) continue;  // a virtual terminal, the console, a pty: no device
    const QFileInfo driverLink(device + QStringLiteral("/driver"));
    if (!driverLink.exists()) continue;
    // The 8250 driver registers every possible ttyS port; those without a UART have type 0.
    const QString type = ReadAttribute(entry + QStringLiteral("/type"));
    if (type == QLatin1String("0")) continue;
    Adapter adapter;
    adapter.kernelName = name;
    adapter.devicePath = QStringLiteral("/dev/") + name;
    adapter.driver = LinkedName(driverLink);
    adapter.usb = name.startsWith(QLatin1String("ttyUSB")) ||
                  name.startsWith(QLatin1String("ttyACM")) ||
                  device.contains(QLatin1String("/usb"));
    if (adapter.usb) ReadUsbIdentity(device, sysRoot, adapter);
    found.push_back(adapter);
  }
  ReadLinks(root, QStringLiteral("by-id"), found);
  ReadLinks(root, QStringLiteral("by-path"), found);
  std::sort(found.begin(), found.end(), [](const Adapter& a, const Adapter& b) {
    // USB adapters first: those with a socket name by it, then the others by kernel name.
    const int ra = a.usb ? (a.byPath.isEmpty() ? 1 : 0) : 2;
    const int rb = b.usb ? (b.byPath.isEmpty() ? 1 : 0) : 2;
    if (ra != rb) return ra < rb;
    if (ra == 0 && a.byPath != b.byPath) return NaturalLess(a.byPath, b.byPath);
    return NaturalLess(a.kernelName, b.kernelName);
  });
  return found;
}

QString LastingName(const Adapter& adapter) {
  if (!adapter.serialNumber.isEmpty() && !adapter.byId.isEmpty()) return adapter.byId;
  if (!adapter.byPath.isEmpty()) return adapter.byPath;
  if (!adapter.byId.isEmpty()) return adapter.byId;
  return adapter.devicePath;
}

const Adapter* FindAdapter(const std::vector<Adapter>& adapters, const QString& devicePath,
                           const QString& root) {
  QString kernel = devicePath;
  if (devicePath.contains(QLatin1Char('/'))) {
    const QFileInfo info(root + devicePath);
    kernel = info.isSymLink() ? LinkedName(info) : info.fileName();
  }
  for (const Adapter& adapter : adapters) {
    if (adapter.kernelName == kernel) return &adapter;
  }
  return nullptr;
}

}  // namespace zelnet_ports
