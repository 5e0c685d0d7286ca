// Times CheckHexFile + LoadHexImage on the HEX file of a random 128 KB image (16-byte records,
// CR LF, the upper bank reached by segment 0x1000, as binutils writes it) and prints the figures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "HexFile.h"
#include "HexWriter.h"

int main() {
  std::mt19937 random(2024);
  std::vector<std::uint8_t> source(velkor::kFirmwareImageSize);
  for (auto& b : source) b = static_cast<std::uint8_t>(random());

  std::string file;
  for (std::size_t offset = 0; offset < source.size(); offset += 16) {
    if (offset == velkor::kFirmwareBankSize) {
      file += zelnet::test::Record(0x02, 0, {0x10, 0x00});
    }
    file += zelnet::test::Record(0x00, static_cast<std::uint16_t>(offset),
                                 {source.begin() + offset, source.begin() + offset + 16});
  }
  file += ":00000001FF\r\n";

  auto image = std::make_unique<velkor::FirmwareImageBytes>();
  velkor::HexLoadState state;
  velkor::TNoProgress progress;
  std::string error;
  if (!velkor::CheckHexFile(file, progress, &error) ||
      velkor::LoadHexImage(file, *image, state, progress, &error) != velkor::HexLoadResult::Ok ||
      !std::equal(source.begin(), source.end(), image->begin()) ||
      velkor::ImagePageCount(state) != 512) {
    std::printf("load failed: %s\n", error.c_str());
    return 1;
  }

  constexpr int kRuns = 200;
  std::vector<double> ms;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok =
        velkor::CheckHexFile(file, progress) &&
        velkor::LoadHexImage(file, *image, state, progress) == velkor::HexLoadResult::Ok;
    const auto stop = std::chrono::steady_clock::now();
    if (!ok) return 1;
    ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
  }
  std::sort(ms.begin(), ms.end());
  double total = 0;
  for (double m : ms) total += m;
  std::printf("HEX file of a 128 KB image: %zu bytes, %zu lines\n", file.size(),
              static_cast<std::size_t>(std::count(file.begin(), file.end(), '\n')));
  std::printf(
      "CheckHexFile + LoadHexImage over %d runs: min %.3f ms, median %.3f ms, mean %.3f ms, "
      "max %.3f ms\n",
      kRuns, ms.front(), ms[ms.size() / 2], total / kRuns, ms.back());
  std::printf("throughput (median): %.1f MB/s\n",
              static_cast<double>(file.size()) / 1e6 / (ms[ms.size() / 2] / 1e3));
  return 0;
}
