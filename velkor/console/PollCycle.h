// The decisions of the poll loop: one pass polls the validator, shows a changed status,
// acknowledges the answer and acts on the state it reports. The commands it runs, and the lines
// they write, belong to whoever drives the loop (the main window's handlers), reached through
// TPollActions; the Poll, the ACK and the bill-table probe go over the link.
#pragma once

#include <cstdint>

#include "ZelnetLink.h"

namespace velkor {

// What the poll loop asks of its window: the window's own handlers, by their names.
class TPollActions {
 public:
  virtual ~TPollActions() = default;
  virtual void ShowStatus(uint8_t status, uint8_t sub) = 0;
  virtual void ResetSoft() = 0;  // the Reset handler, after a power-up
  // During initialisation, identification and the bill table.
  virtual void BtnIdentificationClick() = 0;
  virtual void BtnGetDescriptionClick() = 0;
  virtual void BtnEnableBillClick() = 0;  // while the unit reports itself disabled
  virtual void BtnStackClick() = 0;
  virtual void BtnReturnClick() = 0;
  virtual void BtnReqBarCodeClick() = 0;  // escrow or first stacked report of bill type 23
  // The escrow choice: item index 0 returns the bill, any other (-1 too) stacks it.
  virtual int EscrowChoice() const = 0;
};

class TPollCycle {
 public:
  TPollCycle(ZelnetLink& link, TPollActions& actions) : link_(link), actions_(actions) {}

  // How a poll loop ended: Stop Poll cleared its flag, or the window is closing.
  enum class End { Stopped, Closing };
  // The loop: passes with their pauses while `active` is not 0; it leaves at once, before the
  // next pass, when `closing` has become non-zero.
  End Run(const uint8_t& active, const uint8_t& closing);
  // One pass without its pause. Returns whether the Poll was answered.
  bool Pass();
  // The pause between two passes: about 100 ms, the window's events handled meanwhile.
  static void Pause();

 private:
  ZelnetLink& link_;
  TPollActions& actions_;
  // Identification and bill table have been read in the current initialisation.
  bool identified_ = false;
};

}  // namespace velkor
