#include "device.h"

#include <algorithm>

#include "frame.h"

namespace bvsim {

BillTable DefaultBillTable() {
  BillTable t{};
  auto usd = [](uint8_t digit, uint8_t power) { return BillEntry{digit, {'U', 'S', 'A'}, power}; };
  t[0] = usd(1, 1);
  t[1] = usd(2, 1);
  t[2] = usd(5, 1);
  t[3] = usd(1, 2);
  t[5] = usd(1, 0);
  t[6] = usd(2, 0);
  t[7] = usd(5, 0);
  return t;
}

Statistics DefaultStatistics(const Config& config) {
  Statistics s;
  s.serial = config.serialNumber.substr(0, 12);
  int n = 0;
  for (const BillEntry& e : config.billTable) {
    if (e.Empty() || n == kStatDenominations) continue;
    if (n == 0) s.country.assign(e.country.begin(), e.country.end());
    const int8_t power = (e.power & 0x80) ? -int8_t(e.power & 0x7F) : int8_t(e.power & 0x7F);
    s.denominationTable[n] = {uint8_t(e.digit & 0x0F), uint8_t(e.country[0]), uint8_t(e.country[1]),
                              uint8_t(e.country[2]), uint8_t(power)};
    ++n;
  }
  s.denominations = uint8_t(n);
  // A made-up but steady history: same figures on every run.
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % range;
  };
  for (int r = 0; r < 15 && n > 0; ++r) {
    Sample10000& x = s.samples10000[r];
    x.inserted = 10000;
    uint32_t left = 9500 + next(300);
    for (int d = 0; d < n; ++d) {
      const uint32_t share = d == n - 1 ? left : left / 2 + next(left / 4 + 1);
      x.accepted[d] = uint16_t(std::min<uint32_t>(share, left));
      left -= x.accepted[d];
      x.rejectedOptical[d] = uint16_t(next(20));
      x.rejectedMagnetic[d] = uint16_t(next(15));
      x.rejectedCapacitance[d] = uint16_t(next(5));
    }
    x.unrecognized = uint16_t(next(60));
    x.rejectedLength = uint16_t(next(10));
    x.opticalFailures = uint8_t(next(2));
    x.jamsEntrance = uint8_t(next(4));
    x.jamsCassette = uint8_t(next(3));
    x.jamsOptical = uint8_t(next(2));
  }
  for (int k = 0; k < 19 && n > 0; ++k) {
    Sample500& x = s.samples500[k];
    for (int d = 0; d < n; ++d) x.accepted[d] = uint16_t(400 / n + next(20));
    x.rejectedOptical = uint8_t(next(4));
    x.rejectedMagnetic = uint8_t(next(3));
    x.jamsBezel = uint8_t(next(2));
    x.jamsTotal = x.jamsBezel;
    s.samples50[k] = uint8_t(next(2));
  }
  return s;
}

Device::Device(const Config& config)
    : config_(config),
      powerUpStatus_(config.powerUpStatus),
      barcodeLength_(std::clamp(config.barcodeLength, 1, kMaxBarcodeDigits)),
      blockPower_(config.blockPower),
      firmware_(config.firmwareSize, config.firmwareFill),
      stats_(config.statistics ? *config.statistics : DefaultStatistics(config)) {
  if (powerUpStatus_ < kPowerUp || powerUpStatus_ > kPowerUpBillInStacker)
    powerUpStatus_ = kPowerUp;
}

bool Device::MaskHas(const std::array<uint8_t, 3>& mask, int type) {
  if (type < 0 || type >= kBillTypes) return false;
  return mask[2 - type / 8] & (1u << (type % 8));
}

bool Device::Fault() const {
  return jamAcceptor_ || jamStacker_ || cassetteOut_ || stackerFull_ || failure_ != 0;
}

bool Device::Handle(const std::vector<uint8_t>& request, std::vector<uint8_t>& data) {
  data.clear();
  if (request.size() < 6) return false;
  const uint8_t cmd = request[3];
  // Parameter bytes behind the command byte (the extended form carries its length in 5-6).
  std::vector<uint8_t> p;
  if (request[2] != 0) {
    p.assign(request.begin() + 4, request.end() - 2);
  } else if (request.size() >= 9) {
    p.reserve(request.size());
    p.push_back(request[4]);
    for (size_t i = 7; i + 2 < request.size(); ++i) p.push_back(request[i]);
  }
  switch (cmd) {
    case kAck:
      return false;
    case kReset:
      ++counters_.resets;
      enabled_ = escrow_ = security_ = {};
      downloadMode_ = false;
      busyPolls_ = 0;
      bill_ = {};
      Enter(Phase::Initialize);
      data = {0x00};
      return true;
    case kGetStatus:
      data.assign(enabled_.begin(), enabled_.end());
      data.insert(data.end(), security_.begin(), security_.end());
      return true;
    case kSetSecurity:
      if (p.size() < 3) break;
      std::copy_n(p.begin(), 3, security_.begin());
      data = {0x00};
      return true;
    case kPoll:
      data = Poll();
      return true;
    case kEnableBillTypes:
      if (p.size() < 6) break;
      std::copy_n(p.begin(), 3, enabled_.begin());
      std::copy_n(p.begin() + 3, 3, escrow_.begin());
      if (phase_ == Phase::Disabled || phase_ == Phase::Idling) EnterBase();
      data = {0x00};
      return true;
    case kStack:
      if (phase_ == Phase::Escrow || phase_ == Phase::Holding) Enter(Phase::Stacking);
      data = {0x00};
      return true;
    case kReturn:
      if (phase_ == Phase::Escrow || phase_ == Phase::Holding) Enter(Phase::Returning);
      data = {0x00};
      return true;
    case kHold:
      if (phase_ == Phase::Escrow || phase_ == Phase::Holding) Enter(Phase::Holding);
      data = {0x00};
      return true;
    case kIdentification:
      data = Identification();
      return true;
    case kSetupBarcode:
      if (p.size() < 2 || p[0] != 0x01 || p[1] < 1 || p[1] > kMaxBarcodeDigits) break;
      barcodeLength_ = p[1];
      data = {0x00};
      return true;
    case kExtractBarcode: {
      std::string code = lastBarcode_.empty() ? config_.barcode : lastBarcode_;
      code.resize(barcodeLength_, '0');
      data.assign(code.begin(), code.end());
      return true;
    }
    case kGetBillTable:
      data = BillTableBytes();
      return true;
    case kDownload:
      data = Download(request);
      return true;
    case kCrc32: {
      const uint32_t crc = Crc32(firmware_);
      data = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
      return true;
    }
    case kRequestStatistics: {
      const std::vector<uint8_t> f = EncodeStatisticsFrame(stats_, request[1]);
      data.assign(f.begin() + 5, f.end() - 2);
      return true;
    }
    default:
      break;
  }
  data = {kInvalidCommand};
  return true;
}

std::vector<uint8_t> Device::Identification() const {
  std::vector<uint8_t> d(34, 0);
  for (size_t i = 0; i < 15 && i < config_.partNumber.size(); ++i) d[i] = config_.partNumber[i];
  for (size_t i = 0; i < 12 && i < config_.serialNumber.size(); ++i)
    d[15 + i] = config_.serialNumber[i];
  std::copy(config_.assetNumber.begin(), config_.assetNumber.end(), d.begin() + 27);
  return d;
}

std::vector<uint8_t> Device::BillTableBytes() const {
  std::vector<uint8_t> d;
  d.reserve(5 * kBillTypes);
  for (const BillEntry& e : config_.billTable) {
    d.push_back(e.digit);
    for (char c : e.country) d.push_back(uint8_t(c));
    d.push_back(e.power);
  }
  return d;
}

std::vector<uint8_t> Device::Download(const std::vector<uint8_t>& request) {
  if (request.size() <= 6) return {0x00};  // the Download command alone
  const uint8_t sub = request[4];
  switch (sub) {
    case kDownloadStart:
      downloadMode_ = true;
      return {0x00};
    case kDownloadQueryBlockSize:
      return {blockPower_};
    case kDownloadWriteBlock: {
      if (config_.requireDownloadStart && !downloadMode_) return {kInvalidCommand};
      const size_t at = request[2] == 0 ? 7 : 5;  // address behind the extended length
      if (request.size() < at + 3 + 1 + 2) return {kInvalidCommand};
      const uint32_t address = request[at] | request[at + 1] << 8 | request[at + 2] << 16;
      const size_t n = request.size() - 2 - (at + 3);
      if (address + n > firmware_.size()) return {config_.outOfRangeCode};
      std::copy(request.begin() + at + 3, request.end() - 2, firmware_.begin() + address);
      ++counters_.blocksWritten;
      return {kDownloadAccepted};
    }
    case kDownloadFinish:
      if (config_.requireDownloadStart && !downloadMode_) return {kInvalidCommand};
      // The new firmware starts: the validator comes back as after power-on.
      PowerCycle(kPowerUp);
      return {kDownloadAccepted};
    default:
      return {kInvalidCommand};
  }
}

std::vector<uint8_t> Device::PollAnswerNow() const {
  if (busyPolls_ > 0) return {kBusy};
  if (phase_ == Phase::PowerUp) return {powerUpStatus_};
  if (failure_) return {kFailure, failure_};
  if (jamAcceptor_) return {kAcceptorJammed};
  if (jamStacker_) return {kStackerJammed};
  if (cassetteOut_) return {kCassetteOut};
  if (stackerFull_) return {kStackerFull};
  const uint8_t type = uint8_t(bill_.type);
  switch (phase_) {
    case Phase::Initialize:
      return {kInitialize};
    case Phase::Disabled:
      return {kUnitDisabled};
    case Phase::Idling:
      return {kIdling};
    case Phase::Accepting:
      return {kAccepting};
    case Phase::Escrow:
      return {kEscrow, type};
    case Phase::Holding:
      return {kHolding};
    case Phase::Stacking:
      return {kStacking};
    case Phase::Stacked:
      return {kStacked, type};
    case Phase::Returning:
      return {kReturning};
    case Phase::Returned:
      return {kReturned, type};
    case Phase::Rejecting:
      return {kRejecting, rejectReason_};
    default:
      return {kUnitDisabled};
  }
}

bool Device::Timed(Phase p) {
  return p != Phase::PowerUp && p != Phase::Disabled && p != Phase::Idling && p != Phase::Escrow;
}

bool Device::OnBillRoad(Phase p) {
  return p != Phase::PowerUp && p != Phase::Initialize && p != Phase::Disabled &&
         p != Phase::Idling;
}

std::vector<uint8_t> Device::Poll() {
  std::vector<uint8_t> answer = PollAnswerNow();
  if (busyPolls_ > 0) {
    --busyPolls_;
    return answer;
  }
  // Power-up, disabled, idling and escrow wait for a command or an outside event; a fault
  // freezes everything until it is cleared.
  if (!Timed(phase_) || Fault()) return answer;
  if (--left_ <= 0) Advance();
  return answer;
}

void Device::Advance() {
  switch (phase_) {
    case Phase::Initialize:
      EnterBase();
      break;
    case Phase::Accepting: {
      int reason = -1;
      if (rejectNext_ >= 0) {
        reason = rejectNext_;
        rejectNext_ = -1;
      } else if (bill_.type != kCouponBillType && config_.billTable[bill_.type].Empty()) {
        reason = kRejectIdentification;
      } else if (!MaskHas(enabled_, bill_.type)) {
        reason = kRejectInhibit;
      }
      if (reason >= 0) {
        rejectReason_ = uint8_t(reason);
        CountReject(rejectReason_);
        Enter(Phase::Rejecting);
      } else {
        Enter(MaskHas(escrow_, bill_.type) ? Phase::Escrow : Phase::Stacking);
      }
      break;
    }
    case Phase::Holding:
      Enter(Phase::Escrow);
      break;
    case Phase::Stacking:
      FinishBillRoad(true);
      Enter(Phase::Stacked);
      break;
    case Phase::Returning:
      FinishBillRoad(false);
      Enter(Phase::Returned);
      break;
    default:  // stacked, returned, rejecting: the road is over
      EnterBase();
      break;
  }
}

void Device::Enter(Phase p) {
  phase_ = p;
  switch (p) {
    case Phase::Initialize:
      left_ = config_.initPolls;
      break;
    case Phase::Accepting:
    case Phase::Stacking:
    case Phase::Returning:
    case Phase::Rejecting:
      left_ = config_.transitionPolls;
      break;
    case Phase::Stacked:
    case Phase::Returned:
      left_ = config_.eventPolls;
      break;
    case Phase::Holding:
      left_ = config_.holdPolls;
      break;
    default:
      left_ = 0;
      break;
  }
  // A timed state with no polls to spend is passed through at once.
  if (Timed(p) && left_ <= 0) Advance();
}

void Device::EnterBase() {
  const bool any = enabled_[0] || enabled_[1] || enabled_[2];
  phase_ = any ? Phase::Idling : Phase::Disabled;
  bill_ = {};
  if (phase_ == Phase::Idling) TakeBill();
}

void Device::TakeBill() {
  if (phase_ != Phase::Idling || bezel_.empty() || Fault()) return;
  bill_ = bezel_.front();
  bezel_.pop_front();
  ++counters_.inserted;
  Bump(stats_.samples10000[15].inserted);
  if (bill_.type == kCouponBillType)
    lastBarcode_ = bill_.barcode.empty() ? config_.barcode : bill_.barcode;
  Enter(Phase::Accepting);
}

bool Device::InsertBill(int type, const std::string& barcode) {
  if (type < 0 || type >= kBillTypes) return false;
  bezel_.push_back({type, barcode.substr(0, kMaxBarcodeDigits)});
  TakeBill();
  return true;
}

int Device::Denomination(int type) const {
  if (type < 0 || type >= kBillTypes || config_.billTable[type].Empty()) return -1;
  int d = 0;
  for (int t = 0; t < type; ++t)
    if (!config_.billTable[t].Empty()) ++d;
  return d < kStatDenominations ? d : -1;
}

void Device::FinishBillRoad(bool stacked) {
  if (!stacked) {
    ++counters_.returned;
    return;
  }
  ++counters_.stacked;
  const int d = Denomination(bill_.type);
  if (d < 0) return;
  Bump(stats_.samples10000[15].accepted[d]);
  Bump(stats_.samples500[19].accepted[d]);
}

void Device::CountReject(uint8_t reason) {
  ++counters_.rejected;
  Sample10000& cur = stats_.samples10000[15];
  Sample500& s5 = stats_.samples500[19];
  const int d = Denomination(bill_.type);
  switch (reason) {
    case kRejectOptic:
      if (d >= 0) Bump(cur.rejectedOptical[d]);
      Bump(s5.rejectedOptical);
      break;
    case kRejectMagnetic:
      if (d >= 0) Bump(cur.rejectedMagnetic[d]);
      Bump(s5.rejectedMagnetic);
      break;
    case kRejectVerification:
      if (d >= 0) Bump(s5.rejectedVerification[d]);
      break;
    case kRejectIdentification:
    case kRejectUnknownBill:
      Bump(cur.unrecognized);
      break;
    case kRejectLength:
      Bump(cur.rejectedLength);
      break;
    default:
      break;
  }
}

void Device::CountJam(JamKind kind) {
  ++counters_.jams;
  Sample10000& cur = stats_.samples10000[15];
  Sample500& s5 = stats_.samples500[19];
  if (kind == JamKind::Acceptor) {
    Bump(cur.jamsEntrance);
    Bump(s5.jamsBezel);
  } else {
    Bump(cur.jamsCassette);
    Bump(s5.jamsTransport);
  }
  Bump(s5.jamsTotal);
  Bump(stats_.samples50[19]);
}

void Device::CountFailure(uint8_t code) {
  ++counters_.failures;
  Sample10000& cur = stats_.samples10000[15];
  switch (code) {
    case kFailStackMotor:
      Bump(cur.stackingFailures);
      break;
    case kFailTransportSpeed:
    case kFailTransportMotor:
      Bump(cur.transportFailures);
      break;
    case kFailAligningMotor:
      Bump(cur.aligningFailures);
      break;
    case kFailOpticCanal:
      Bump(cur.opticalFailures);
      break;
    case kFailMagneticCanal:
      Bump(cur.magneticFailures);
      break;
    default:
      break;
  }
}

void Device::PowerCycle(int powerUpStatus) {
  uint8_t status = config_.powerUpStatus;
  if (powerUpStatus >= kPowerUp && powerUpStatus <= kPowerUpBillInStacker) {
    status = uint8_t(powerUpStatus);
  } else if (phase_ == Phase::Stacking) {
    status = kPowerUpBillInStacker;
  } else if (OnBillRoad(phase_) && phase_ != Phase::Stacked && phase_ != Phase::Returned) {
    status = kPowerUpBillInAcceptor;
  }
  if (status < kPowerUp || status > kPowerUpBillInStacker) status = kPowerUp;
  powerUpStatus_ = status;
  phase_ = Phase::PowerUp;
  left_ = 0;
  bill_ = {};
  enabled_ = escrow_ = security_ = {};
  downloadMode_ = false;
  busyPolls_ = 0;
  blockPower_ = config_.blockPower;
}

void Device::SetCondition(bool& flag, bool on) {
  if (flag == on) return;
  const bool before = Fault();
  flag = on;
  if (on) {
    // The bill on its way is lost for this road (stuck, or given back).
    if (OnBillRoad(phase_)) EnterBase();
  } else if (before && !Fault() && phase_ != Phase::PowerUp) {
    Enter(Phase::Initialize);
  }
}

void Device::SetJam(bool on, JamKind kind) {
  bool& flag = kind == JamKind::Acceptor ? jamAcceptor_ : jamStacker_;
  if (on && !flag) CountJam(kind);
  SetCondition(flag, on);
}

void Device::SetCassetteOut(bool out) {
  SetCondition(cassetteOut_, out);
}

void Device::SetStackerFull(bool full) {
  SetCondition(stackerFull_, full);
}

void Device::SetFailure(uint8_t code) {
  if (failure_ == code) return;
  if (code) CountFailure(code);
  const bool before = Fault();
  failure_ = code;
  if (code) {
    if (OnBillRoad(phase_)) EnterBase();
  } else if (before && !Fault() && phase_ != Phase::PowerUp) {
    Enter(Phase::Initialize);
  }
}

}  // namespace bvsim
