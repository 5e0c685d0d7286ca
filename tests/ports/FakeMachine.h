// A machine's serial ports laid out in a temporary folder as sysfs and udev show them (the tty
// class links, the device folders with their driver links and USB attributes, /dev/serial/by-id
// and by-path), for the port library to read as its root (ZELNET_PORTS_ROOT).
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "ScopedEnv.h"

namespace zelnet::test {

class FakeMachine {
 public:
  FakeMachine() {
    EXPECT_TRUE(dir_.isValid());
    // Readable by an unprivileged user too (tests drop privileges for a child).
    QFile::setPermissions(dir_.path(), QFile::permissions(dir_.path()) | QFile::ReadOther |
                                           QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    Dir(QStringLiteral("/sys/class/tty"));
    Dir(QStringLiteral("/dev"));
  }

  QString Root() const { return dir_.path(); }

  // A USB serial adapter (ftdi_sio) as ttyUSB<k>, plugged into USB socket `socket` ("2", "1.4"):
  // by-path "pci-0000:00:14.0-usb-0:SOCKET:1.0-port0", and by-id when it has a serial number.
  void AddUsb(const QString& kernel, const QString& socket, const QString& serial,
              const QString& manufacturer = QStringLiteral("FTDI"),
              const QString& product = QStringLiteral("FT232R USB UART"), quint16 vid = 0x0403,
              quint16 pid = 0x6001) {
    const QString iface = UsbDevice(socket, serial, manufacturer, product, vid, pid) +
                          QStringLiteral("/1-%1:1.0").arg(socket);
    const QString port = iface + QLatin1Char('/') + kernel;
    Dir(port);
    Link(port + QStringLiteral("/driver"),
         Dir(QStringLiteral("/sys/bus/usb-serial/drivers/ftdi_sio")));
    ClassEntry(kernel, port);
    UdevLinks(kernel, QStringLiteral("pci-0000:00:14.0-usb-0:%1:1.0-port0").arg(socket),
              serial.isEmpty()
                  ? QString()
                  : QStringLiteral("usb-%1_%2_%3-if00-port0")
                        .arg(manufacturer, QString(product).replace(' ', '_'), serial));
  }

  // A USB modem-class adapter (cdc_acm) as ttyACM<k> in USB socket `socket`.
  void AddAcm(const QString& kernel, const QString& socket, const QString& serial) {
    const QString iface = UsbDevice(socket, serial, QStringLiteral("Arduino"),
                                    QStringLiteral("Uno"), 0x2341, 0x0043) +
                          QStringLiteral("/1-%1:1.0").arg(socket);
    Dir(iface);
    Link(iface + QStringLiteral("/driver"), Dir(QStringLiteral("/sys/bus/usb/drivers/cdc_acm")));
    ClassEntry(kernel, iface);
    UdevLinks(kernel, QStringLiteral("pci-0000:00:14.0-usb-0:%1:1.0").arg(socket),
              serial.isEmpty() ? QString() : QStringLiteral("usb-Arduino_Uno_%1-if00").arg(serial));
  }

  // A built-in port ttyS<k>. `type` is the UART type the kernel reports: 0 for the phantom
  // entries the 8250 driver registers without hardware, 4 (16550A) for a real one.
  void AddBuiltin(const QString& kernel, int type) {
    const QString device = type == 0 ? QStringLiteral("/sys/devices/platform/serial8250")
                                     : QStringLiteral("/sys/devices/pnp0/00:0%1").arg(++pnp_);
    Dir(device);
    if (!QFileInfo::exists(Root() + device + QStringLiteral("/driver"))) {
      Link(device + QStringLiteral("/driver"),
           Dir(type == 0 ? QStringLiteral("/sys/bus/platform/drivers/serial8250")
                         : QStringLiteral("/sys/bus/pnp/drivers/serial")));
    }
    const QString tty = ClassEntry(kernel, device);
    Write(tty + QStringLiteral("/type"), QByteArray::number(type) + "\n");
  }

  // A terminal without a device (tty0, console).
  void AddVirtual(const QString& kernel) {
    const QString tty = Dir(QStringLiteral("/sys/devices/virtual/tty/") + kernel);
    Link(QStringLiteral("/sys/class/tty/") + kernel, tty);
  }

  void WriteSystemMap(const QByteArray& contents) {
    Dir(QStringLiteral("/etc/zelnet"));
    Write(QStringLiteral("/etc/zelnet/ports.conf"), contents);
  }

  // Creates a folder below the root; returns its path below the root.
  QString Dir(const QString& path) {
    EXPECT_TRUE(QDir().mkpath(Root() + path)) << path.toStdString();
    return path;
  }
  void Write(const QString& path, const QByteArray& contents) {
    QFile file(Root() + path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(contents);
  }
  // A symbolic link at `path` to `target`, both below the root, written relative as udev and
  // sysfs write theirs.
  void Link(const QString& path, const QString& target) {
    const QString from = Root() + path;
    const QString relative = QDir(QFileInfo(from).absolutePath()).relativeFilePath(Root() + target);
    QFile::remove(from);
    EXPECT_TRUE(QFile::link(relative, from)) << path.toStdString();
  }

 private:
  QString UsbDevice(const QString& socket, const QString& serial, const QString& manufacturer,
                    const QString& product, quint16 vid, quint16 pid) {
    const QString device =
        Dir(QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-%1").arg(socket));
    Write(device + QStringLiteral("/idVendor"), QByteArray::number(vid, 16).rightJustified(4, '0'));
    Write(device + QStringLiteral("/idProduct"),
          QByteArray::number(pid, 16).rightJustified(4, '0'));
    Write(device + QStringLiteral("/manufacturer"), manufacturer.toUtf8() + "\n");
    Write(device + QStringLiteral("/product"), product.toUtf8() + "\n");
    if (!serial.isEmpty()) Write(device + QStringLiteral("/serial"), serial.toUtf8() + "\n");
    return device;
  }

  // The tty folder of `kernel` under its device, with its device link, the class link to it and
  // the device node; returns the tty folder.
  QString ClassEntry(const QString& kernel, const QString& device) {
    const QString tty = Dir(device + QStringLiteral("/tty/") + kernel);
    Link(tty + QStringLiteral("/device"), device);
    Link(QStringLiteral("/sys/class/tty/") + kernel, tty);
    Write(QStringLiteral("/dev/") + kernel, {});
    return tty;
  }

  void UdevLinks(const QString& kernel, const QString& byPath, const QString& byId) {
    Dir(QStringLiteral("/dev/serial/by-path"));
    Link(QStringLiteral("/dev/serial/by-path/") + byPath, QStringLiteral("/dev/") + kernel);
    if (byId.isEmpty()) return;
    Dir(QStringLiteral("/dev/serial/by-id"));
    Link(QStringLiteral("/dev/serial/by-id/") + byId, QStringLiteral("/dev/") + kernel);
  }

  QTemporaryDir dir_;
  int pnp_ = 4;
};

}  // namespace zelnet::test
