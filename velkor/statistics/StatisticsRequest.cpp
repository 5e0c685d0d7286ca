#include "StatisticsRequest.h"

#include <algorithm>
#include <array>

#include "Frame.h"
#include "StatDecode.h"

namespace velkor {

namespace {

constexpr int kStatisticsTicks = 10000;  // answer time-out, ticks of 10 ms
// Sent (its outcome ignored) after a block that fails its check.
constexpr std::uint8_t kStatisticsRejectCommand = 0x62;
constexpr int kStatisticsRejectTicks = 30;

}  // namespace

StatisticsOutcome TStatisticsRequest::Run() {
  answer_.assign(kStatisticsAnswerSize, 0);
  const int result = link_.SendCommand(kCmdRequestStatistics, answer_, kStatisticsTicks);
  if (result == txNoPort) return StatisticsOutcome::NoPort;
  if (result == txBusy) return StatisticsOutcome::Refused;
  if (result == txBadStatistics) return StatisticsOutcome::ValidatorRefused;
  // Only a good answer is decoded: after a time-out or a wrong check code the buffer holds no
  // block, whatever its byte 9 happens to be.
  if (result != txOk || !IsStatisticsBlockValid(answer_)) {
    std::array<std::uint8_t, 256> reject{};
    link_.SendCommand(kStatisticsRejectCommand, reject, kStatisticsRejectTicks);
    return StatisticsOutcome::NotCorrect;
  }
  return StatisticsOutcome::Ok;
}

std::span<const std::uint8_t> TStatisticsRequest::Block() const {
  const std::span<const std::uint8_t> answer(answer_);
  return answer.first(std::min(AnswerFrameLength(answer), answer.size()));
}

QString TStatisticsRequest::OutcomeLine(StatisticsOutcome outcome) {
  if (outcome == StatisticsOutcome::Ok) {
    return QStringLiteral("The Read Statistic-command is executed");
  }
  return outcome == StatisticsOutcome::NotCorrect ? kTextBadStatistics : QString();
}

bool TStatisticsRequest::ViewEnabled(StatisticsOutcome outcome, bool before) {
  return outcome == StatisticsOutcome::Ok || outcome == StatisticsOutcome::NoPort ||
         (outcome == StatisticsOutcome::Refused && before);
}

}  // namespace velkor
