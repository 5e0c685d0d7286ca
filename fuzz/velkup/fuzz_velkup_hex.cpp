// ReadHexStream over arbitrary text into the full 3,000,000-byte image memory: no byte may be
// written outside it, and the result must describe where reading stopped.
#include <cstdint>
#include <cstdlib>

#include "Frames.h"
#include "ImageFile.h"

using namespace velkup;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TImageMemory memory(kImageMemorySize, 0xFF);
  TMemorySource source(data, size);
  const THexResult r = ReadHexStream(source, memory.data(), memory.size());
  if (r.storedBytes > size || r.line == 0) std::abort();
  if (r.Malformed() && r.outcome == THexOutcome::ReadError) std::abort();
  // Whatever was loaded makes valid block frames.
  uint8_t payload[kWriteBlockPayloadSize];
  uint8_t frame[kWriteBlockPayloadSize + 5];
  BuildWriteBlockPayload(0x7FF00, memory.data(), payload);
  BuildFrame(kAddressQBQC, payload, sizeof payload, frame);
  if (CalcCrc16(frame, 0) != (frame[266] | frame[267] << 8)) std::abort();
  return 0;
}
