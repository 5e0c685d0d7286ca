// The device commands of the console: each runs one request over the command transaction (which
// logs its own failures and traces) and gives the lines the window adds to its log after a good
// answer, none after a failure.
#pragma once

#include <QStringList>
#include <array>
#include <cstdint>

#include "DeviceAnswers.h"
#include "StatusText.h"
#include "ZelnetLink.h"

namespace velkor {

inline const QString kTextResetDone = QStringLiteral("The Reset-soft is executed successfully!");

class TDeviceCommands {
 public:
  // `names` is the bill-name table that Get Bill Table fills and status lines read.
  TDeviceCommands(ZelnetLink& link, BillNameTable& names) : link_(link), names_(names) {}

  using Bits = std::array<uint8_t, 3>;
  // Reset on the open port (500 ms time-out), set off by a separator.
  QStringList Reset();
  QStringList GetStatus();
  QStringList SetSecurity(const Bits& security);
  // Nothing is sent when no bill type is enabled.
  QStringList EnableBills(const Bits& enable, const Bits& escrow);
  QStringList DisableBills();
  QStringList Stack();
  QStringList Return();
  QStringList Hold();
  QStringList Identification();
  QStringList SetupBarcode(int length);
  QStringList ExtractBarcode(int length);
  QStringList GetBillTable();
  // One Poll and its status line; no acknowledgement, LastStatus unchanged.
  QStringList Poll();
  QStringList Crc32();
  // The status line of a status code, if it has one.
  QStringList StatusLines(uint8_t status, uint8_t sub) const;

 private:
  using Buffer = std::array<uint8_t, 256>;
  // Sends `code` with the data bytes in `buffer` (from byte 4); false after a failure.
  bool Send(uint8_t code, Buffer& buffer, int ticks);
  // Sends `code` with all data bytes 0: `lines` after a good answer, none after a failure.
  QStringList Confirmed(uint8_t code, int ticks, QStringList lines);

  ZelnetLink& link_;
  BillNameTable& names_;
};

}  // namespace velkor
