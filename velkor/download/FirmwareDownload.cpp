#include "FirmwareDownload.h"

#include <chrono>
#include <thread>

namespace velkor {

TFirmwareDownload::TFirmwareDownload(ZelnetLink& link, TProgressSteps& progress, LogFn log)
    : link_(link), progress_(progress), log_(std::move(log)) {}

void TFirmwareDownload::Pause() {
  // These pauses block the window's thread on purpose: the validator needs the quiet line.
  std::this_thread::sleep_for(std::chrono::milliseconds(kDownloadPauseMs));
}

int TFirmwareDownload::Exchange(int ticks) {
  // The answer overwrites the request: every attempt builds its frame anew.
  return link_.Exchange(buffer_, ticks, kCmdDownload);
}

bool TFirmwareDownload::SendRequest(std::uint8_t subCode, int ticks) {
  BuildDownloadRequest(subCode, buffer_);
  return IsDownloadAnswer(Exchange(ticks), buffer_);
}

bool TFirmwareDownload::Start() {
  return SendRequest(DownloadStart, kDownloadStartTicks);
}

bool TFirmwareDownload::WriteBlock(const FirmwareImageBytes& image, std::uint32_t address) {
  for (int attempt = 1;; ++attempt) {
    if (BuildBlockFrame(buffer_, image, address, blockSize_) == 0) return false;
    Pause();
    const int length = Exchange(kDownloadBlockTicks);
    // No valid answer at all (time-out, check code, invalid command): no further attempt.
    if (length <= 0) return false;
    if (IsDownloadAccepted(length, buffer_)) return true;
    if (attempt == kDownloadBlockAttempts) return false;
    Pause();
  }
}

DownloadResult TFirmwareDownload::LoadAndProgram(std::string_view contents,
                                                 FirmwareImageBytes& image, HexLoadState& state) {
  blockSize_ = 0;
  blockCount_ = 0;
  hexError_.clear();

  if (!Start()) return dlExchangeError;
  Pause();
  if (!SendRequest(DownloadQueryBlockSize, kDownloadQueryTicks)) return dlExchangeError;
  const std::uint32_t blockSize = BlockSizeFromAnswer(buffer_[3]);
  // A block frame must fit the request buffer; a larger block size ends the download here.
  if (blockSize > kMaxDownloadBlockSize) return dlExchangeError;
  blockSize_ = blockSize;

  log_(kTextPreparation);
  if (LoadHexImage(contents, image, state, progress_, &hexError_) != HexLoadResult::Ok) {
    return dlHexError;
  }
  log_(kTextPreparationOk);
  log_(kTextProgramming);

  blockCount_ = DownloadBlockCount(ImagePageCount(state), blockSize_);
  progress_.SetMax(static_cast<int>(blockCount_));
  progress_.SetPosition(0);
  for (std::uint32_t i = 0; i < blockCount_; ++i) {
    const std::uint32_t address = i * blockSize_;
    if (!IsBlankBlock(image, address, blockSize_) && !WriteBlock(image, address)) {
      return dlExchangeError;
    }
    progress_.Step();
  }

  BuildDownloadRequest(DownloadFinish, buffer_);
  Pause();
  return IsDownloadAccepted(Exchange(kDownloadFinishTicks), buffer_) ? dlOk : dlExchangeError;
}

}  // namespace velkor
