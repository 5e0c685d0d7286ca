// Configuration of the simulated validator and the codes it speaks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "statistics.h"

namespace bvsim {

// Request codes.
enum Command : uint8_t {
  kAck = 0x00,
  kReset = 0x30,
  kGetStatus = 0x31,
  kSetSecurity = 0x32,
  kPoll = 0x33,
  kEnableBillTypes = 0x34,
  kStack = 0x35,
  kReturn = 0x36,
  kIdentification = 0x37,
  kHold = 0x38,
  kSetupBarcode = 0x39,
  kExtractBarcode = 0x3A,
  kGetBillTable = 0x41,
  kDownload = 0x50,
  kCrc32 = 0x51,
  kRequestStatistics = 0x60,
};

// Sub-codes of the Download command and its answer code.
enum DownloadSub : uint8_t {
  kDownloadStart = 0x00,
  kDownloadQueryBlockSize = 0x01,
  kDownloadWriteBlock = 0x02,
  kDownloadFinish = 0x03,
};
constexpr uint8_t kDownloadAccepted = 0xE0;

// Status codes of a Poll answer (byte 3) and the "invalid command" answer code.
enum StatusCode : uint8_t {
  kPowerUp = 0x10,
  kPowerUpBillInAcceptor = 0x11,
  kPowerUpBillInStacker = 0x12,
  kInitialize = 0x13,
  kIdling = 0x14,
  kAccepting = 0x15,
  kStacking = 0x17,
  kReturning = 0x18,
  kUnitDisabled = 0x19,
  kHolding = 0x1A,
  kBusy = 0x1B,
  kRejecting = 0x1C,
  kStackerFull = 0x41,
  kCassetteOut = 0x42,
  kAcceptorJammed = 0x43,
  kStackerJammed = 0x44,
  kCheated = 0x45,
  kPause = 0x46,
  kFailure = 0x47,
  kEscrow = 0x80,
  kStacked = 0x81,
  kReturned = 0x82,
  kInvalidCommand = 0x30,
};

// Rejection reasons (sub-code of 0x1C).
enum RejectReason : uint8_t {
  kRejectInsertion = 0x60,
  kRejectMagnetic = 0x61,
  kRejectRemained = 0x62,
  kRejectMultiplying = 0x63,
  kRejectConveying = 0x64,
  kRejectIdentification = 0x65,
  kRejectVerification = 0x66,
  kRejectOptic = 0x67,
  kRejectInhibit = 0x68,
  kRejectCapacity = 0x69,
  kRejectOperation = 0x6A,
  kRejectStack = 0x6B,
  kRejectLength = 0x6C,
  kRejectUnknownBill = 0x92,
};

// Failure codes (sub-code of 0x47).
enum FailureCode : uint8_t {
  kFailStackMotor = 0x50,
  kFailTransportSpeed = 0x51,
  kFailTransportMotor = 0x52,
  kFailAligningMotor = 0x53,
  kFailInitialBoxStatus = 0x54,
  kFailOpticCanal = 0x55,
  kFailMagneticCanal = 0x56,
  kFailCapacitanceCanal = 0x5F,
};

constexpr int kBillTypes = 24;
constexpr int kCouponBillType = 23;  // a barcode coupon is reported as this bill type
constexpr int kMaxBarcodeDigits = 32;

// One entry of the bill table: value digit x 10^power (bit 7 of power: negative exponent) and
// a three-character country code. All zero means "no bill of this type".
struct BillEntry {
  uint8_t digit = 0;
  std::array<char, 3> country{};
  uint8_t power = 0;
  bool Empty() const { return digit == 0 && country == std::array<char, 3>{} && power == 0; }
};
using BillTable = std::array<BillEntry, kBillTypes>;

// Types 0-3: 10, 20, 50, 100 USA; 5-7: 1, 2, 5 USA; the others (23, the coupon, included) empty.
BillTable DefaultBillTable();

struct Config {
  // Addresses answered; a request to any other address is recorded but not answered.
  std::vector<uint8_t> addresses{0x03, 0x01};
  // Line pacing: 0 = none. Otherwise a request of n bytes and its answer of m bytes take
  // (n + m) x 10 / baud seconds from the moment the request's first byte was read until the
  // answer, written in one piece at that moment, is on the line.
  unsigned baud = 0;
  // Block size of the download, as a power of two (answer to the block-size query).
  uint8_t blockPower = 8;
  // Polls answered with Initialize (0x13) after a Reset or a cleared fault.
  int initPolls = 3;
  // Polls spent in each transitional state: accepting, stacking, returning, rejecting.
  int transitionPolls = 2;
  // Polls on which a finished event (stacked 0x81, returned 0x82) is reported.
  int eventPolls = 1;
  // Polls spent holding (0x1A) after a Hold before the bill is back in escrow.
  int holdPolls = 10;
  BillTable billTable = DefaultBillTable();
  // Identification: part number (15 characters at most) and serial number (12 at most),
  // padded with zero bytes; asset number, 7 bytes, most significant first.
  std::string partNumber = "ZBV-700-USA";
  std::string serialNumber = "K21A00004711";
  std::array<uint8_t, 7> assetNumber{0, 0, 0, 0, 0, 0x30, 0x39};
  // After an accepted DownloadFinish the unit restarts: it answers nothing for this long, then
  // comes back in power-up. 0: it answers at once.
  int restartAfterUpdateMs = 0;
  // Statistics at start. Unset: a short history built from the bill table.
  std::optional<Statistics> statistics;
  // Firmware memory, filled with firmwareFill at start. A write block that lies wholly below
  // firmwareSize is stored and answered 0xE0; one that reaches beyond it is not stored and is
  // answered with outOfRangeCode (0x30, the invalid-command answer, by default).
  size_t firmwareSize = 128 * 1024;
  uint8_t firmwareFill = 0xFF;
  uint8_t outOfRangeCode = kInvalidCommand;
  // Write blocks are only taken after DownloadStart (answered 0x30 otherwise).
  bool requireDownloadStart = true;
  // State after start and after PowerCycle(): 0x10, 0x11 or 0x12.
  uint8_t powerUpStatus = kPowerUp;
  // Barcode reader: digits per coupon until Setup Barcode changes it, and the digits of a
  // coupon inserted without its own.
  int barcodeLength = 18;
  std::string barcode = "012345678901234567890123456789";
  // A partial request that gets no further byte for this long is dropped (recorded with
  // crcOk = false). 0 keeps it forever.
  int frameGapMs = 100;
  // Frames kept in each record (received, sent); the oldest go first. 0: all of them.
  size_t recordLimit = 0;
};

}  // namespace bvsim
