// What must hold after any load, good or bad.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "HexFile.h"

// Progress that traps on a negative position or a maximum that does not fit the file.
class CheckedProgress final : public velkor::TProgressSteps {
 public:
  void SetMax(int maximum) override {
    if (maximum < 0) __builtin_trap();
  }
  void SetPosition(int position) override {
    if (position < 0) __builtin_trap();
    position_ = position;
  }
  int Position() const override { return position_; }

 private:
  int position_ = 0;
};

// Runs the loading pass and checks its outcome: a good load wrote data, its pages cover every
// byte loaded and lie inside the image, and blocks of any size up to 512 bytes stay inside it.
inline void LoadAndCheck(std::string_view contents) {
  static auto image = std::make_unique<velkor::FirmwareImageBytes>();
  velkor::HexLoadState state;
  CheckedProgress progress;
  std::string detail;
  const auto result = velkor::LoadHexImage(contents, *image, state, progress, &detail);
  if (result != velkor::HexLoadResult::Ok) {
    if (detail.empty()) __builtin_trap();
    return;
  }
  if (!state.HasData || state.UpperBank > 1) __builtin_trap();
  const unsigned pages = velkor::ImagePageCount(state);
  if (pages < 1 || pages > velkor::kFirmwareImageSize / velkor::kFirmwarePageSize) __builtin_trap();
  for (std::size_t i = std::size_t{pages} * velkor::kFirmwarePageSize; i < image->size(); ++i) {
    if ((*image)[i] != 0xFF) __builtin_trap();
  }
  for (std::uint32_t block = 1; block <= 512; block *= 2) {
    if (std::size_t{velkor::DownloadBlockCount(pages, block)} * block > image->size()) {
      __builtin_trap();
    }
  }
}
