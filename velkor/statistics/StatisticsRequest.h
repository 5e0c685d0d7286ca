// The statistics request: Request Statistics (0x60) over the command transaction, the check of
// the block it brings, and the reject command (0x62) after a block that cannot be taken. The
// window shows the outcome and fills its tree from Block().
#pragma once

#include <QString>
#include <cstdint>
#include <span>
#include <vector>

#include "ZelnetLink.h"

namespace velkor {

enum class StatisticsOutcome {
  Ok,                // a good block: Block() holds it
  NoPort,            // no port open: the transaction's box, nothing sent
  Refused,           // another exchange waits: the transaction's refusal, nothing sent
  ValidatorRefused,  // the validator answered that it has no statistics (txBadStatistics)
  NotCorrect,        // no good block: the reject command has been sent
};

class TStatisticsRequest {
 public:
  explicit TStatisticsRequest(ZelnetLink& link) : link_(link) {}

  StatisticsOutcome Run();
  // The answer of the last good request, as long as its length announces.
  std::span<const std::uint8_t> Block() const;

  // The request's own log line after an outcome: none where the transaction wrote the failure.
  static QString OutcomeLine(StatisticsOutcome outcome);
  // Whether the statistics window may be viewed after an outcome, given whether it could before:
  // a good block, no port (nothing lost), or a refusal that changed nothing.
  static bool ViewEnabled(StatisticsOutcome outcome, bool before);

 private:
  ZelnetLink& link_;
  std::vector<std::uint8_t> answer_;
};

}  // namespace velkor
