// The validator itself: what it answers to each request and how its state moves. No I/O and no
// locking; the Simulator serialises every call.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "config.h"
#include "statistics.h"

namespace bvsim {

// What happened since start (or PowerCycle; the statistics block keeps counting across both).
struct Counters {
  uint32_t inserted = 0;  // bills and coupons taken in
  uint32_t stacked = 0;
  uint32_t returned = 0;
  uint32_t rejected = 0;
  uint32_t jams = 0;
  uint32_t failures = 0;
  uint32_t resets = 0;
  uint32_t blocksWritten = 0;  // write blocks stored since start
};

enum class JamKind { Acceptor, Stacker };

class Device {
 public:
  explicit Device(const Config& config);

  // Handles one request with a right check code addressed to us. Returns false when the
  // request gets no answer (ACK); otherwise fills data with the answer's data bytes.
  bool Handle(const std::vector<uint8_t>& request, std::vector<uint8_t>& data);

  // Controls.
  bool InsertBill(int type, const std::string& barcode = {});
  void RejectNextBill(uint8_t reason) { rejectNext_ = reason; }
  void PowerCycle(int powerUpStatus = -1);
  void SetJam(bool on, JamKind kind);
  void SetCassetteOut(bool out);
  void SetStackerFull(bool full);
  void SetFailure(uint8_t code);  // 0 clears
  void SetBusy(int polls) { busyPolls_ = polls < 0 ? 0 : polls; }

  // State as the next Poll would report it (status code and sub-code).
  std::vector<uint8_t> PollAnswerNow() const;
  std::array<uint8_t, 3> EnabledMask() const { return enabled_; }
  std::array<uint8_t, 3> EscrowMask() const { return escrow_; }
  std::array<uint8_t, 3> SecurityMask() const { return security_; }
  int BarcodeLength() const { return barcodeLength_; }
  bool InDownloadMode() const { return downloadMode_; }
  uint8_t BlockPower() const { return blockPower_; }
  void SetBlockPower(uint8_t p) { blockPower_ = p; }
  size_t PendingBills() const { return bezel_.size(); }
  const Counters& GetCounters() const { return counters_; }
  const Statistics& GetStatistics() const { return stats_; }
  const std::vector<uint8_t>& Firmware() const { return firmware_; }

  // Bill type t is enabled when bit t of the 24-bit mask (first byte most significant) is set.
  static bool MaskHas(const std::array<uint8_t, 3>& mask, int type);

 private:
  enum class Phase {
    PowerUp,
    Initialize,
    Disabled,
    Idling,
    Accepting,
    Escrow,
    Holding,
    Stacking,
    Stacked,
    Returning,
    Returned,
    Rejecting,
  };
  struct Bill {
    int type = 0;
    std::string barcode;
  };

  std::vector<uint8_t> Poll();
  std::vector<uint8_t> Download(const std::vector<uint8_t>& request);
  std::vector<uint8_t> Identification() const;
  std::vector<uint8_t> BillTableBytes() const;
  bool Fault() const;
  static bool Timed(Phase p);
  static bool OnBillRoad(Phase p);
  void Advance();
  void Enter(Phase p);
  void SetCondition(bool& flag, bool on);
  void EnterBase();
  void TakeBill();
  void FinishBillRoad(bool stacked);
  int Denomination(int type) const;
  void CountReject(uint8_t reason);
  void CountJam(JamKind kind);
  void CountFailure(uint8_t code);

  Config config_;
  Phase phase_ = Phase::PowerUp;
  int left_ = 0;  // polls left in the current phase
  uint8_t powerUpStatus_ = kPowerUp;
  Bill bill_;
  uint8_t rejectReason_ = 0;
  int rejectNext_ = -1;
  std::deque<Bill> bezel_;  // bills waiting to be taken in
  std::array<uint8_t, 3> enabled_{};
  std::array<uint8_t, 3> escrow_{};
  std::array<uint8_t, 3> security_{};
  bool jamAcceptor_ = false;
  bool jamStacker_ = false;
  bool cassetteOut_ = false;
  bool stackerFull_ = false;
  uint8_t failure_ = 0;
  int busyPolls_ = 0;
  int barcodeLength_ = 18;
  std::string lastBarcode_;
  bool downloadMode_ = false;
  uint8_t blockPower_ = 8;
  std::vector<uint8_t> firmware_;
  Counters counters_;
  Statistics stats_;
};

// The statistics a fresh validator reports when none is configured: denominations taken from
// the non-empty bill table entries (at most 20), a short made-up history, current sample zero.
Statistics DefaultStatistics(const Config& config);

}  // namespace bvsim
