// The loading pass alone on arbitrary file contents.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hex_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadAndCheck(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
