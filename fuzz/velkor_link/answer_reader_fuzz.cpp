// Feeds an arbitrary byte stream to the answer reader (the serial layer's assembler under the
// link's framing) with an arbitrary buffer size and request code, as a line could deliver it,
// then traces and classifies what was read.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "AnswerAssembler.h"
#include "Frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t bufferSize = (size_t{data[0]} << 8 | data[1]) % 12000 + 1;
  const uint8_t code = data[2];
  data += 3;
  size -= 3;

  // Exactly bufferSize bytes on the heap, so any write past the end is caught.
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferSize]());
  std::span<uint8_t> span(buffer.get(), bufferSize);
  velkor::BuildFrame(code, span);

  velkor::AnswerAssembler answer(span, velkor::ZelnetFraming());
  size_t i = 0;
  velkor::AnswerAssembler::Step step = velkor::AnswerAssembler::Step::More;
  while (i < size && step == velkor::AnswerAssembler::Step::More) step = answer.Push(data[i++]);
  if (answer.Received() > bufferSize) __builtin_trap();

  if (step == velkor::AnswerAssembler::Step::Complete) {
    const int result = velkor::ClassifyAnswer(span.first(answer.Received()), code);
    if (result > 0 && static_cast<size_t>(result) != answer.Received()) __builtin_trap();
    // Complete means exactly the length the frame announces.
    if (velkor::AnswerFrameLength(span.first(answer.Received())) != answer.Received()) {
      __builtin_trap();
    }
  }
  (void)velkor::TraceLine("<- ", span);
  return 0;
}
