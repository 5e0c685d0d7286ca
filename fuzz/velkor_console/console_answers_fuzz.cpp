// The console's answer decoders over arbitrary answer buffers: the first byte picks the barcode
// length and the edit texts' source, the rest is an answer buffer as the transaction leaves it.
// Every decoder must stay inside the bytes it is given and give one-line texts.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "DeviceAnswers.h"
#include "StatusText.h"
#include "WindowChoices.h"

namespace {

void OneLine(const std::string& text) {
  for (const char c : text) {
    if (c == '\n' || c == '\r' || c == '\0') std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int lengthIndex = static_cast<int>(data[0] % 8) - 1;  // -1 .. 6
  const std::span<const uint8_t> buffer(data + 1, size - 1);
  const std::span<const uint8_t> answer = velkor::AnswerData(buffer);
  if (answer.size() > buffer.size()) std::abort();

  velkor::BillNameTable names;
  for (const auto& entry : velkor::DecodeBillTable(answer)) {
    OneLine(entry.line);
    OneLine(entry.name);
  }
  const auto entries = velkor::DecodeBillTable(answer);
  for (size_t k = 0; k < names.size(); ++k) names[k] = entries[k].name;

  const velkor::PollAnswer poll = velkor::ReadPollAnswer(answer);
  if (const auto line = velkor::StatusText(poll.status, poll.sub, names)) OneLine(*line);
  for (const std::string& line : velkor::IdentificationLines(answer)) OneLine(line);
  OneLine(velkor::MaskLine(answer, 0));
  OneLine(velkor::MaskLine(answer, 3));
  OneLine(velkor::BarcodeLine(answer, velkor::BarcodeLength(lengthIndex)));

  // The edits' texts: three slices of the input.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t third = text.size() / 3;
  std::array<uint8_t, 3> bytes{};
  velkor::ParseBitEdits({text.substr(0, third), text.substr(third, third), text.substr(2 * third)},
                        bytes);
  return 0;
}
