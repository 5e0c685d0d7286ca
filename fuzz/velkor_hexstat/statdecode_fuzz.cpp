// The statistics decoding on arbitrary bytes: inside the 10,000-byte answer buffer as the window
// passes it, and on a buffer of exactly the input's size. Every text must stay one line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "StatDecode.h"

namespace {

void CheckText(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
  }
}

void CheckNode(const velkor::TStatNode& node) {
  CheckText(node.Text);
  for (const auto& child : node.Children) CheckNode(child);
}

void Decode(std::span<const std::uint8_t> block) {
  const velkor::TStatisticsTree tree = velkor::DecodeStatistics(block);
  if (tree.Header.size() != 5) __builtin_trap();
  for (const auto& line : tree.Header) CheckText(line);
  const std::size_t n = velkor::DenominationCount(block);
  if (n > velkor::kMaxDenominations) __builtin_trap();
  if (tree.Groups[0].size() != 20 || tree.Groups[1].size() != 8 || tree.Groups[2].size() != 1) {
    __builtin_trap();
  }
  if (tree.Groups[0][1].size() != n || tree.Groups[1][1].size() != n) __builtin_trap();
  for (const auto& group : tree.Groups) {
    for (const auto& counter : group) {
      for (const auto& node : counter) CheckNode(node);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto answer = std::make_unique<std::uint8_t[]>(velkor::kStatisticsAnswerSize);
  const std::size_t used = std::min(size, velkor::kStatisticsAnswerSize);
  std::fill_n(answer.get(), velkor::kStatisticsAnswerSize, 0);
  std::copy_n(data, used, answer.get());
  Decode(std::span<const std::uint8_t>(answer.get(), velkor::kStatisticsAnswerSize));

  // Exactly the input on the heap, so any read past its end is caught.
  auto exact = std::make_unique<std::uint8_t[]>(used);
  std::copy_n(data, used, exact.get());
  Decode(std::span<const std::uint8_t>(exact.get(), used));
  return 0;
}
