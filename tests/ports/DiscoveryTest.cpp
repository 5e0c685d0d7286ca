// The machine's ports over a fake device tree, in the order of the automatic numbering, and the
// checks of a target: present, missing, not a serial device, in use by another process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "Discovery.h"
#include "FakeMachine.h"
#include "PortCheck.h"
#include "PtyPeer.h"

namespace {

using zelnet::test::FakeMachine;
using zelnet_ports::Adapter;
using zelnet_ports::CheckTarget;
using zelnet_ports::DiscoverPorts;
using zelnet_ports::PortState;

QStringList Kernels(const std::vector<Adapter>& adapters) {
  QStringList names;
  for (const Adapter& a : adapters) names << a.kernelName;
  return names;
}

TEST(Discovery, AdaptersBySocketThenBuiltInPortsWithHardwareAndNoPhantoms) {
  FakeMachine machine;
  machine.AddBuiltin("ttyS0", 4);
  machine.AddBuiltin("ttyS1", 0);  // phantom: the 8250 driver's entry without a UART
  machine.AddBuiltin("ttyS2", 0);
  machine.AddBuiltin("ttyS10", 4);
  machine.AddBuiltin("ttyS3", 4);
  machine.AddVirtual("tty0");
  machine.AddVirtual("console");
  // Plugged in the order 10, 2, 1.4: the kernel numbers follow the plugging, the order does not.
  machine.AddUsb("ttyUSB0", "10", "FT0001");
  machine.AddAcm("ttyACM0", "2", "");
  machine.AddUsb("ttyUSB1", "1.4", "");
  // An adapter udev has not linked yet comes after those it has.
  machine.AddUsb("ttyUSB2", "7", "");
  QFile::remove(machine.Root() + "/dev/serial/by-path/pci-0000:00:14.0-usb-0:7:1.0-port0");

  const std::vector<Adapter> ports = DiscoverPorts(machine.Root());
  EXPECT_EQ(Kernels(ports),
            QStringList({"ttyUSB1", "ttyACM0", "ttyUSB0", "ttyUSB2", "ttyS0", "ttyS3", "ttyS10"}));

  const Adapter& ftdi = ports[2];
  EXPECT_TRUE(ftdi.usb);
  EXPECT_EQ(ftdi.devicePath, "/dev/ttyUSB0");
  EXPECT_EQ(ftdi.byPath, "/dev/serial/by-path/pci-0000:00:14.0-usb-0:10:1.0-port0");
  EXPECT_EQ(ftdi.byId, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_FT0001-if00-port0");
  EXPECT_EQ(ftdi.driver, "ftdi_sio");
  EXPECT_EQ(ftdi.manufacturer, "FTDI");
  EXPECT_EQ(ftdi.description, "FT232R USB UART");
  EXPECT_EQ(ftdi.serialNumber, "FT0001");
  EXPECT_TRUE(ftdi.hasIds);
  EXPECT_EQ(ftdi.vendorId, 0x0403);
  EXPECT_EQ(ftdi.productId, 0x6001);
  // The lasting name: by-id when there is a serial number to tell two adapters apart...
  EXPECT_EQ(zelnet_ports::LastingName(ftdi), ftdi.byId);
  // ... otherwise the socket.
  EXPECT_EQ(zelnet_ports::LastingName(ports[1]),
            "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0");
  EXPECT_EQ(ports[1].driver, "cdc_acm");
  EXPECT_EQ(ports[1].vendorId, 0x2341);
  EXPECT_EQ(zelnet_ports::LastingName(ports[3]), "/dev/ttyUSB2");
  EXPECT_FALSE(ports[4].usb);
  EXPECT_EQ(ports[4].driver, "serial");

  // Found again by any of their names.
  for (const QString name : {"ttyUSB0", "/dev/ttyUSB0", ftdi.byId.toUtf8().constData(),
                             ftdi.byPath.toUtf8().constData()}) {
    const Adapter* found = zelnet_ports::FindAdapter(ports, name, machine.Root());
    ASSERT_NE(found, nullptr) << name.toStdString();
    EXPECT_EQ(found->kernelName, "ttyUSB0");
  }
  EXPECT_EQ(zelnet_ports::FindAdapter(ports, "/dev/ttyUSB9", machine.Root()), nullptr);
}

TEST(Discovery, AnEmptyOrAbsentTreeHasNoPorts) {
  QTemporaryDir empty;
  EXPECT_TRUE(DiscoverPorts(empty.path()).empty());
  EXPECT_TRUE(DiscoverPorts(empty.filePath("absent")).empty());
}

TEST(Discovery, NaturalOrderComparesNumbersByValue) {
  using zelnet_ports::NaturalLess;
  EXPECT_TRUE(NaturalLess("ttyS2", "ttyS10"));
  EXPECT_FALSE(NaturalLess("ttyS10", "ttyS2"));
  EXPECT_TRUE(NaturalLess("usb-0:1.4:1.0", "usb-0:2:1.0"));
  EXPECT_FALSE(NaturalLess("ttyS2", "ttyS2"));
  EXPECT_TRUE(NaturalLess("ttyS02", "ttyS3"));
}

TEST(PortCheck, TellsPresentMissingNotSerialAndNetwork) {
  zelnet::test::PtyPeer pty;
  const auto present = CheckTarget(QString::fromStdString(pty.SlavePath()));
  EXPECT_EQ(present.state, PortState::Present) << present.detail.toStdString();
  EXPECT_TRUE(present.Usable());

  const auto missing = CheckTarget("/dev/serial/by-id/usb-unplugged-if00-port0");
  EXPECT_EQ(missing.state, PortState::Missing);
  EXPECT_FALSE(missing.Usable());

  QTemporaryDir dir;
  QFile file(dir.filePath("plain"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  EXPECT_EQ(CheckTarget(file.fileName()).state, PortState::NotSerial);
  EXPECT_EQ(CheckTarget("/dev/null").state, PortState::NotSerial);  // a device, not a terminal
  EXPECT_EQ(CheckTarget(dir.path()).state, PortState::NotSerial);

  const auto network = CheckTarget("rfc2217://bench-pi:3001");
  EXPECT_EQ(network.state, PortState::NotChecked);
  EXPECT_TRUE(network.Usable());
  EXPECT_EQ(zelnet_ports::StateText(network.state), "network");
  EXPECT_EQ(CheckTarget("").state, PortState::Unassigned);
}

TEST(PortCheck, InUseNamesTheHolderFromItsLockFileOrSaysItIsHeldForExclusiveUse) {
  zelnet::test::PtyPeer pty;
  const QString slave = QString::fromStdString(pty.SlavePath());
  // The peer holds its own pseudo-terminal open, as bvsim does: that is not "in use".
  EXPECT_EQ(CheckTarget(slave).state, PortState::Present);

  // Another program holds the port with a UUCP lock file, as QSerialPort writes it: "LCK.." and
  // the path after /dev/ with '_' for '/'.
  QProcess holder;
  holder.start("sleep", {"300"});
  ASSERT_TRUE(holder.waitForStarted());
  QFile lock("/run/lock/LCK.." + slave.mid(5).replace('/', '_'));
  ASSERT_TRUE(lock.open(QIODevice::WriteOnly)) << lock.fileName().toStdString();
  lock.write(QByteArray::number(holder.processId()) + "\nsleep\nlocalhost\n");
  lock.close();
  const auto busy = CheckTarget(slave);
  EXPECT_EQ(busy.state, PortState::InUse);
  EXPECT_EQ(busy.detail, QStringLiteral("in use by sleep (pid %1)").arg(holder.processId()));
  // A lock file left behind by a process that is gone holds nothing.
  holder.kill();
  holder.waitForFinished();
  EXPECT_EQ(CheckTarget(slave).state, PortState::Present);
  lock.remove();

  // Opened for exclusive use, without a lock file.
  const int fd = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ioctl(fd, TIOCEXCL), 0);
  const auto exclusive = CheckTarget(slave);
  EXPECT_EQ(exclusive.state, PortState::InUse);
  EXPECT_TRUE(exclusive.detail.startsWith("in use by another process"))
      << exclusive.detail.toStdString();
  ::close(fd);
}

}  // namespace
