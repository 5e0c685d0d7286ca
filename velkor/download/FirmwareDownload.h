// The download's exchanges after the Download command: DownloadStart, the block-size query, the
// image block by block with its retries, and DownloadFinish. The frames go over the link's
// untraced exchange, never through the command transaction, so they are neither traced nor
// change LastStatus.
//
// No widgets: the caller hands in the link, a progress object and a log, and turns the result
// into a log line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "DownloadFrames.h"
#include "DownloadTexts.h"
#include "HexFile.h"
#include "ZelnetLink.h"

namespace velkor {

// Answer time-outs of the download, ticks of 10 ms.
inline constexpr int kDownloadCommandTicks = 50;
inline constexpr int kDownloadStartTicks = 50;
inline constexpr int kDownloadQueryTicks = 50;
inline constexpr int kDownloadBlockTicks = 150;
inline constexpr int kDownloadFinishTicks = 100;
// The 400 ms pause (window events processed) between the Download command and DownloadStart.
inline constexpr int kDownloadModeDelayMs = 400;
// The blocking pause before the block-size query, every block attempt and the finish, and after
// a refused block.
inline constexpr int kDownloadPauseMs = 100;
// A block is sent at most this many times.
inline constexpr int kDownloadBlockAttempts = 4;

class TFirmwareDownload {
 public:
  using LogFn = std::function<void(std::string_view line)>;

  TFirmwareDownload(ZelnetLink& link, TProgressSteps& progress, LogFn log);

  // Sends DownloadStart and reads its answer; true for a valid frame starting with 0x02.
  bool Start();

  // Starts download mode again, asks for the block size, loads the HEX file's contents into
  // `image` (and `state`) and writes every non-blank block, each up to four times while the
  // validator refuses it, then finishes. Blank blocks (all 0xFF) are not sent but still step the
  // progress bar. A block size above 512 bytes ends the download before any block is built.
  DownloadResult LoadAndProgram(std::string_view contents, FirmwareImageBytes& image,
                                HexLoadState& state);

  // What the last LoadAndProgram found: the block size (0 before the query was answered), the
  // block count, and where a HEX error lies.
  std::uint32_t BlockSize() const { return blockSize_; }
  std::uint32_t BlockCount() const { return blockCount_; }
  const std::string& HexErrorDetail() const { return hexError_; }

 private:
  // Writes the frame in the request buffer and reads the answer over it.
  int Exchange(int ticks);
  bool SendRequest(std::uint8_t subCode, int ticks);
  // One block at image offset `address`, sent until accepted, refused four times or unanswered.
  bool WriteBlock(const FirmwareImageBytes& image, std::uint32_t address);
  static void Pause();

  ZelnetLink& link_;
  TProgressSteps& progress_;
  LogFn log_;
  std::array<std::uint8_t, kDownloadRequestBufferSize> buffer_{};
  std::uint32_t blockSize_ = 0;
  std::uint32_t blockCount_ = 0;
  std::string hexError_;
};

}  // namespace velkor
