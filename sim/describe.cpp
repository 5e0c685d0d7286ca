#include "describe.h"

#include <cstdio>

#include "config.h"
#include "frame.h"

namespace bvsim {

namespace {

std::string Hex2(unsigned v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02X", v & 0xFF);
  return b;
}

std::string Hex6(unsigned v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%06X", v & 0xFFFFFF);
  return b;
}

}  // namespace

std::string HexBytes(const std::vector<uint8_t>& bytes, size_t max) {
  std::string s;
  const size_t shown = bytes.size() > max ? max : bytes.size();
  for (size_t i = 0; i < shown; ++i) {
    if (i) s += ' ';
    s += Hex2(bytes[i]);
  }
  if (shown < bytes.size()) s += " ... (" + std::to_string(bytes.size()) + " bytes)";
  return s;
}

std::string CommandName(int command) {
  switch (command) {
    case kAck:
      return "ACK";
    case kReset:
      return "Reset";
    case kGetStatus:
      return "Get Status";
    case kSetSecurity:
      return "Set Security";
    case kPoll:
      return "Poll";
    case kEnableBillTypes:
      return "Enable Bill Types";
    case kStack:
      return "Stack";
    case kReturn:
      return "Return";
    case kIdentification:
      return "Identification";
    case kHold:
      return "Hold";
    case kSetupBarcode:
      return "Setup Barcode";
    case kExtractBarcode:
      return "Extract Barcode Data";
    case kGetBillTable:
      return "Get Bill Table";
    case kDownload:
      return "Download";
    case kCrc32:
      return "CRC32";
    case kRequestStatistics:
      return "Request Statistics";
    default:
      return "command " + Hex2(unsigned(command));
  }
}

std::string StatusName(uint8_t status) {
  switch (status) {
    case kPowerUp:
      return "Power Up";
    case kPowerUpBillInAcceptor:
      return "Power Up with Bill in Acceptor";
    case kPowerUpBillInStacker:
      return "Power Up with Bill in Stacker";
    case kInitialize:
      return "Initialize";
    case kIdling:
      return "Idling";
    case kAccepting:
      return "Accepting";
    case kStacking:
      return "Stacking";
    case kReturning:
      return "Returning";
    case kUnitDisabled:
      return "Unit Disabled";
    case kHolding:
      return "Holding";
    case kBusy:
      return "Busy";
    case kRejecting:
      return "Rejecting";
    case kStackerFull:
      return "Stacker Full";
    case kCassetteOut:
      return "Cassette out";
    case kAcceptorJammed:
      return "Acceptor Jammed";
    case kStackerJammed:
      return "Stacker Jammed";
    case kCheated:
      return "Cheated";
    case kPause:
      return "Pause";
    case kFailure:
      return "Failure";
    case kEscrow:
      return "Escrow";
    case kStacked:
      return "Stacked";
    case kReturned:
      return "Returned";
    default:
      return "";
  }
}

std::string RejectName(uint8_t reason) {
  switch (reason) {
    case kRejectInsertion:
      return "insertion";
    case kRejectMagnetic:
      return "magnetic";
    case kRejectRemained:
      return "remained";
    case kRejectMultiplying:
      return "multiplying";
    case kRejectConveying:
      return "conveying";
    case kRejectIdentification:
      return "identification";
    case kRejectVerification:
      return "verification";
    case kRejectOptic:
      return "optic";
    case kRejectInhibit:
      return "inhibit";
    case kRejectCapacity:
      return "capacity";
    case kRejectOperation:
      return "operation";
    case kRejectStack:
      return "stack";
    case kRejectLength:
      return "length";
    case kRejectUnknownBill:
      return "unknown bill";
    case 0x93:
      return "char length";
    case 0x94:
      return "start bit";
    case 0x95:
      return "stop bit";
    default:
      return "";
  }
}

std::string FailureName(uint8_t code) {
  switch (code) {
    case kFailStackMotor:
      return "stack motor";
    case kFailTransportSpeed:
      return "transport motor speed";
    case kFailTransportMotor:
      return "transport motor";
    case kFailAligningMotor:
      return "aligning motor";
    case kFailInitialBoxStatus:
      return "initial box status";
    case kFailOpticCanal:
      return "optic canal";
    case kFailMagneticCanal:
      return "magnetic canal";
    case kFailCapacitanceCanal:
      return "capacitance canal";
    default:
      return "";
  }
}

std::string DescribeRequest(const std::vector<uint8_t>& f, bool crcOk) {
  if (f.size() < 6) return "incomplete frame";
  if (!crcOk) return "bad check code, ignored";
  std::string s = CommandName(f[3]);
  const bool extended = f[2] == 0;
  const size_t dataAt = extended ? 7 : 4;
  switch (f[3]) {
    case kEnableBillTypes:
      if (f.size() >= 12) {
        bool none = true;
        for (size_t i = 4; i < 10; ++i) none = none && f[i] == 0;
        s = none ? "Disable Bill Types"
                 : s + " " + HexBytes({f.begin() + 4, f.begin() + 7}) + " / escrow " +
                       HexBytes({f.begin() + 7, f.begin() + 10});
      }
      break;
    case kSetSecurity:
      if (f.size() >= 9) s += " " + HexBytes({f.begin() + 4, f.begin() + 7});
      break;
    case kSetupBarcode:
      if (f.size() >= 8) s += ", " + std::to_string(f[5]) + " digits";
      break;
    case kDownload:
      if (f.size() <= 6) break;
      switch (f[4]) {
        case kDownloadStart:
          s += " start";
          break;
        case kDownloadQueryBlockSize:
          s += " block-size query";
          break;
        case kDownloadFinish:
          s += " finish";
          break;
        case kDownloadWriteBlock:
          if (f.size() >= dataAt + 3 + 2) {
            const unsigned a = f[dataAt] | f[dataAt + 1] << 8 | f[dataAt + 2] << 16;
            s += " block " + Hex6(a) + ", " + std::to_string(f.size() - dataAt - 5) + " bytes";
          }
          break;
        default:
          s += " sub-command " + Hex2(f[4]);
          break;
      }
      break;
    default:
      break;
  }
  return s;
}

std::string DescribeAnswer(int cmd, const std::vector<uint8_t>& f) {
  if (f.size() < 6 || AnnouncedAnswerLength(f) != f.size()) return "malformed answer";
  std::string bad = CheckCodeOk(f) ? "" : " (bad check code)";
  const size_t at = f[2] == 0 ? 5 : 3;
  const size_t n = f.size() - at - 2;
  const uint8_t b = f[at];
  if (cmd == kPoll) {
    std::string s = StatusName(b);
    if (s.empty()) s = "status " + Hex2(b);
    if (n >= 2) {
      const uint8_t sub = f[at + 1];
      if (b == kRejecting)
        s += ", " + (RejectName(sub).empty() ? Hex2(sub) : RejectName(sub));
      else if (b == kFailure)
        s += ", " + (FailureName(sub).empty() ? Hex2(sub) : FailureName(sub));
      else if (b >= kEscrow && b <= kReturned)
        s += ", bill type " + std::to_string(sub);
    }
    return s + bad;
  }
  if (n == 1 && b == kInvalidCommand) return "invalid command" + bad;
  if (cmd == kDownload && n == 1 && b == kDownloadAccepted) return "accepted" + bad;
  if (n == 1 && b == 0x00) return "OK" + bad;
  if (cmd == kDownload && n == 1) return "answer " + Hex2(b) + bad;
  if (cmd == kRequestStatistics && at == 5 && n > 4)
    return "statistics block, type " + std::to_string(f[9]) + ", " + std::to_string(f[8]) +
           " denominations" + bad;
  if (cmd == kCrc32 && n == 4)
    return "CRC32 " + HexBytes({f.begin() + at, f.begin() + at + 4}) + bad;
  return std::to_string(n) + " data bytes" + bad;
}

std::string DescribeAnswer(const std::vector<uint8_t>& request, const std::vector<uint8_t>& f) {
  const int cmd = request.size() > 3 ? request[3] : -1;
  const bool query =
      cmd == kDownload && request.size() == 7 && request[4] == kDownloadQueryBlockSize;
  if (query && f.size() == 6 && CheckCodeOk(f) && f[3] < 32)
    return "block size 2^" + std::to_string(f[3]) + " = " + std::to_string(1ull << f[3]) + " bytes";
  return DescribeAnswer(cmd, f);
}

}  // namespace bvsim
