// Feeds an arbitrary byte stream to Velkup's answer reader, delivered in reads of an arbitrary
// largest size, into a buffer of an arbitrary size; then the same bytes to the collector of stray
// answers in arbitrary pieces.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t bufferSize = (size_t{data[0]} << 8 | data[1]) % 400 + 1;
  const size_t perRead = data[2];  // 0: the line falls silent at once
  data += 3;
  size -= 3;

  // Exactly bufferSize bytes on the heap, so any write past the end is caught.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferSize]());
  size_t at = 0;
  const velkup::TReadBytes read = [&](uint8_t* into, uint32_t count) {
    const size_t n = std::min({size_t{count}, perRead, size - at});
    std::copy_n(data + at, n, into);
    at += n;
    return static_cast<uint32_t>(n);
  };
  const size_t got = velkup::ReadAnswerFrame(read, buffer.get(), bufferSize);
  if (got > bufferSize || got != at) __builtin_trap();
  // A whole frame, or the buffer full, or the line fell silent: never more than the frame.
  const size_t length = velkup::AnswerLength(buffer.get(), got);
  if (length != 0 && got > std::max(length, size_t{3})) __builtin_trap();

  std::vector<uint8_t> frame(velkup::kFrameBufferSize);
  velkup::TStrayCollector stray;
  for (size_t i = 0; i < size;) {
    const size_t n = std::min<size_t>(size - i, perRead ? perRead : 1);
    stray.Add(frame.data(), frame.size(), data + i, static_cast<uint32_t>(n));
    if (stray.Count() < 0) __builtin_trap();
    i += n;
  }
  return 0;
}
