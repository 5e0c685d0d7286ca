// The statistics decoding on arbitrary bytes, as exactly the input's bytes on the heap; the
// fields that the decoding reads directly are compared with the same bytes in the 10,000-byte
// answer buffer. Every text must stay one line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "StatDecode.h"

namespace {

// Every character is looked at; the look itself is not instrumented for coverage (it says nothing
// about the decoder's paths, and traced compares of every character would cost most of the time).
__attribute__((no_sanitize("coverage"), noinline)) void CheckText(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
  }
}

__attribute__((no_sanitize("coverage"))) void CheckNode(const velkor::TStatNode& node) {
  CheckText(node.Text);
  for (const auto& child : node.Children) CheckNode(child);
}

// Decodes into a tree kept from one input to the next, so that its buffers are reused and the
// time goes to the decoding, not to the allocator.
void Decode(std::span<const std::uint8_t> block, velkor::TStatisticsTree& tree) {
  velkor::DecodeStatistics(block, tree);
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
  // The block as the window passes it: the answer's bytes, exactly, on the heap, so that any read
  // past them is caught. Bytes past the block read as zero.
  const std::size_t used = std::min(size, velkor::kStatisticsAnswerSize);
  auto exact = std::make_unique<std::uint8_t[]>(used);
  std::copy_n(data, used, exact.get());
  const std::span<const std::uint8_t> block(exact.get(), used);
  static velkor::TStatisticsTree tree;
  Decode(block, tree);

  // The same bytes at the start of the zero-filled 10,000-byte answer buffer decode alike: the
  // header and the denominations' labels (each sample is read by the same code at the same
  // offsets either way).
  static auto answer = std::make_unique<std::uint8_t[]>(velkor::kStatisticsAnswerSize);
  std::fill_n(answer.get(), velkor::kStatisticsAnswerSize, 0);
  std::copy_n(data, used, answer.get());
  const std::span<const std::uint8_t> padded(answer.get(), velkor::kStatisticsAnswerSize);
  const std::size_t n = velkor::DenominationCount(padded);
  if (n != velkor::DenominationCount(block)) __builtin_trap();
  for (std::size_t d = 0; d < n; ++d) {
    if (velkor::DenominationLabel(padded, d) != tree.Groups[1][0][d].Text) __builtin_trap();
  }
  if (velkor::StatText(padded, velkor::kStatSerialOffset, velkor::kStatSerialWidth) !=
      velkor::StatText(block, velkor::kStatSerialOffset, velkor::kStatSerialWidth)) {
    __builtin_trap();
  }
  return 0;
}
