// Helpers of Velkor's HEX file tests: one call that runs both passes the way the download does.
// The records themselves are written by HexWriter.h.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HexFile.h"
#include "HexWriter.h"

namespace velkor::test {

struct Loaded {
  bool checked = false;
  std::string checkError;
  std::optional<velkor::HexLoadResult> loaded;  // set when the first pass passed
  std::string loadError;
  std::unique_ptr<velkor::FirmwareImageBytes> image =
      std::make_unique<velkor::FirmwareImageBytes>();
  velkor::HexLoadState state;

  bool Ok() const { return checked && loaded == velkor::HexLoadResult::Ok; }
  std::uint8_t At(std::size_t offset) const { return (*image)[offset]; }
  // Image offsets that do not hold 0xFF.
  std::size_t Written() const {
    std::size_t n = 0;
    for (std::uint8_t b : *image) n += b != 0xFF;
    return n;
  }
};

// The first pass, then (when it passes) the second, as the download runs them.
inline Loaded Load(std::string_view contents) {
  Loaded result;
  velkor::TNoProgress progress;
  result.checked = velkor::CheckHexFile(contents, progress, &result.checkError);
  if (result.checked) {
    result.loaded =
        velkor::LoadHexImage(contents, *result.image, result.state, progress, &result.loadError);
  }
  return result;
}

}  // namespace velkor::test
