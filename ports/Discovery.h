// The machine's serial ports, read from sysfs and udev's links under /dev/serial, in the order of
// the automatic numbering:
//   1. USB and ACM adapters, by their /dev/serial/by-path name (the socket they are plugged into,
//      compared with numbers as numbers), so an adapter keeps its number across replugs and
//      reboots; adapters without a by-path link follow, by kernel name;
//   2. then the built-in ports that have hardware behind them, by kernel name (ttyS0, ttyS1, ...).
//      A port counts when its device has a driver and, where the kernel gives a port type, the
//      type is known: the phantom ttyS entries of the 8250 driver (type 0) do not count.
// Everything is read below a root folder, "/" on a real machine, so tests lay out a device tree
// of their own.
#pragma once

#include <QString>
#include <vector>

namespace zelnet_ports {

struct Adapter {
  QString kernelName;  // "ttyUSB0"
  QString devicePath;  // "/dev/ttyUSB0"
  QString byId;        // "/dev/serial/by-id/usb-FTDI_..._A10K4Z3B-if00-port0", or empty
  QString byPath;      // "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", or empty
  QString driver;      // "ftdi_sio", "cdc_acm", "serial", ...
  QString description;
  QString manufacturer;
  QString serialNumber;
  quint16 vendorId = 0;
  quint16 productId = 0;
  bool hasIds = false;
  bool usb = false;  // a USB or ACM adapter, not a built-in port
};

// The folder every lookup of the machine's state reads below: ZELNET_PORTS_ROOT when it names an
// absolute folder (tests), otherwise empty, meaning "/". The system map, /dev and /sys are read
// below it.
QString SystemRoot();

// Every serial port with hardware under `root`, in the order of the automatic numbering.
std::vector<Adapter> DiscoverPorts(const QString& root = SystemRoot());

// The name of the adapter that lasts: its by-id link when it has a serial number (it follows the
// adapter into any socket), otherwise its by-path link (the socket), otherwise the device path.
QString LastingName(const Adapter& adapter);

// The adapter that `devicePath` reaches (/dev/ttyUSB0, a by-id or by-path link, or the kernel name
// alone), or null.
const Adapter* FindAdapter(const std::vector<Adapter>& adapters, const QString& devicePath,
                           const QString& root = SystemRoot());

// a < b comparing runs of digits as numbers: "ttyS2" before "ttyS10".
bool NaturalLess(const QString& a, const QString& b);

}  // namespace zelnet_ports
