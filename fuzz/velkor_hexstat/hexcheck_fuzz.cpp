// The checking pass on arbitrary file contents, then the loading pass on every file it accepts,
// as the download runs them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "HexFile.h"
#include "hex_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view contents(reinterpret_cast<const char*>(data), size);
  CheckedProgress progress;
  std::string detail;
  const bool ok = velkor::CheckHexFile(contents, progress, &detail);
  if (progress.Position() != 0) __builtin_trap();
  if (!ok) {
    if (detail.empty()) __builtin_trap();
    return 0;
  }
  LoadAndCheck(contents);
  return 0;
}
