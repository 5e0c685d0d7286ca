// Who a unit is, whether it is there, and whether it came back after an update: the
// Identification request and a Poll whose whole answer is checked, on Velkup's own frames
// through TCommDrv. velkup-batch runs them before and after the update sequence; the sequence's
// own bytes are left as they are.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Commdrv.h"

namespace velkup {

// The identification answer's 34 data bytes: part number (15), serial number (12), asset
// number (7, most significant byte first).
inline constexpr size_t kIdentificationSize = 34;

struct TUnitIdentity {
  QString partNumber;        // text up to the first zero byte, at most 15 characters
  QString serialNumber;      // text up to the first zero byte, at most 12 characters
  uint64_t assetNumber = 0;  // the 7 bytes as one unsigned number
  bool operator==(const TUnitIdentity&) const = default;
};

// Decodes the data bytes of an identification answer; nullopt when fewer than 34 came.
// Control characters in the texts read as '?', so that no table, CSV or terminal line is ever
// broken by what a unit sends.
std::optional<TUnitIdentity> DecodeIdentification(const uint8_t* data, size_t n);

// What the check after an update found.
struct TComeBack {
  bool back = false;
  double seconds = 0;                     // until the unit answered a Poll again, when back
  uint8_t status = 0;                     // the state in that answer
  std::optional<TUnitIdentity> identity;  // identified again, when it answered that too
};

// What velkup-batch learned of one unit around its update.
struct TUnitCheck {
  std::optional<TUnitIdentity> before;  // nullopt: "not identified"
  bool verified = false;                // the come-back check ran
  TComeBack after;                      // its finding, when it ran
  bool CameBack() const { return !verified || after.back; }
};

class TUnitProbe {
 public:
  // The address by the family: 0x01 for "QA", 0x03 for "QB, QC".
  TUnitProbe(TCommDrv& drv, uint8_t address) : drv_(drv), address_(address) {}

  // Opens the line as the update sequence does when it is closed (RTS and DTR off, then a
  // pause of 100 ms); true when it is open.
  bool Open();
  // One Identification exchange (an answer within 600 ms); nullopt when no whole, valid answer
  // with 34 data bytes came. Whatever a late answer would leave on the line is cleared first.
  std::optional<TUnitIdentity> Identify();
  // One Poll exchange, acknowledged when answered; the state of a whole, valid answer.
  std::optional<uint8_t> Poll(int answerMs = 200);
  // After the update: polls every 500 ms, reopening the line when it is closed, until the unit
  // answers a Poll with a whole, valid frame, then identifies it again. Gives up after
  // timeoutMs, or at once when stop() says so.
  TComeBack WaitForComeBack(int timeoutMs, const std::function<bool()>& stop);

 private:
  // Sends one request and reads its answer; the data bytes of a whole answer from this
  // address with a right check code, else nullopt.
  std::optional<std::vector<uint8_t>> Exchange(const uint8_t* payload, size_t n, int answerMs);

  TCommDrv& drv_;
  const uint8_t address_;
};

}  // namespace velkup
