// The update sequence: load the image file, bring the validator to a quiet state, switch it to
// update mode, write the checked images block by block with their percentages, end update mode.
// It talks to the line through TCommDrv and to the window only through the callbacks of TView,
// so it runs and is tested without a window.
#pragma once

#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>

#include "Commdrv.h"
#include "Frames.h"
#include "ImageFile.h"

namespace velkup {

enum class TImage { Encryption, BVControl, Validation };

struct TImageWindow {
  TImage image;
  uint32_t first;  // first address
  uint32_t end;    // end, exclusive
  const char* text;
};

// The three images, always taken in this order.
inline constexpr std::array<TImageWindow, 3> kImages = {{
    {TImage::Encryption, 0xB000, 0xD000, "Wait... Writing Encryption Image Data: "},
    {TImage::BVControl, 0xD000, 0x1B000, "Wait... Writing BV Control Image Data: "},
    {TImage::Validation, 0x1B000, 0x80000, "Wait... Writing Validation Image Data: "},
}};

// The percentage shown before the block at address a of an image.
uint32_t BlockPercent(const TImageWindow& w, uint32_t a);

struct TUpdateOptions {
  int comPortIndex = 0;   // 0 = "COM1"; -1 none
  int baudRateIndex = 0;  // 0 = "9600", anything else 19200
  QString fileName;
  // When set, the port by name ("COM3", "/dev/ttyUSB0") instead of comPortIndex.
  QString portName;
};

// Why an image was not written to its end.
enum class TImageFailure {
  None,
  Refused,      // the block was answered with another code than DownloadAccepted
  NoAnswer,     // fewer than 4 answer bytes came
  PortLost,     // the device went away while the port was open (hang-up, adapter unplugged)
  PortNotOpen,  // the port could not be opened for the block
  Stopped,      // the run was stopped on request before the image was written
};

// What happened to one image in a run.
struct TImageReport {
  TImage image = TImage::Encryption;
  bool chosen = false;  // checked when its turn came (or when the run stopped before it)
  uint32_t blocks = 0;  // blocks of the image
  uint32_t blocksWritten = 0;
  TImageFailure failure = TImageFailure::None;
  uint32_t failedBlockAddress = 0;  // the block that was not written
  uint8_t refusedCode = 0;          // byte 3 of the answer, for Refused
  QString problem;  // PortNotOpen: why, when there is more to say than "not there" (TLS, ...)
  bool Written() const { return chosen && failure == TImageFailure::None; }
};

// What a run did, for the history and the batch program's report.
struct TRunReport {
  std::array<TImageReport, 3> images{};
  QString portName;      // as the driver was given it ("COM1", "/dev/ttyUSB0")
  QString target;        // what it resolved to ("/dev/ttyUSB0", "rfc2217s://bench3:3001")
  uint32_t baud = 0;     // bits per second
  int bvTypeIndex = -1;  // family at the first frame: 0 "QA", 1 "QB, QC", -1 none
  QString sha256;        // of the image file's bytes, lowercase hexadecimal
  double seconds = 0;    // from Start to the end of the run
  bool sentAnything = false;
};

// Opens the driver's line as the update sequence does when it is closed: RTS and DTR off, then
// Connect and a pause of 100 ms. True when it is open.
bool EnsureLineOpen(TCommDrv& drv);

// Loads the image file into memory like LoadImageFile and gives the SHA-256 of every byte of the
// file (lowercase hexadecimal) in sha256.
TLoadResult LoadUpdateImage(const QString& fileName, TImageMemory& memory, QString& sha256);

// Where a run is. The sequence reports each change through TView::PhaseChanged, and Phase()
// tells it at any time from any thread.
enum class TPhase {
  Idle,                   // before the first run
  Loading,                // reading the image file (Run only)
  Preparing,              // bringing the validator to a quiet state
  SwitchingToUpdateMode,  // the three exchanges into update mode
  Writing,                // the chosen images, block by block (ImageProgress tells which)
  Finishing,              // DownloadFinish
  Ended,                  // the run is over; LastReport tells how it went
};

// The phase in a few lowercase words: "preparing", "switching to update mode", ...
const char* PhaseText(TPhase phase);

enum class TRunOutcome {
  Ready,        // every checked image was written
  ImageFailed,  // at least one image was abandoned after a refused block
  FileError,    // the image file could not be opened or is malformed; nothing was sent
  Stopped,      // stopped on request after the block in flight
};

class TUpdateSequence {
 public:
  // What the sequence needs from the window. Every member must be set.
  struct TView {
    std::function<void(const QString&)> SetStatus;
    std::function<void(bool)> SetStartEnabled;
    std::function<int()> BVTypeIndex;          // read for every frame; -1 when none
    std::function<bool(TImage)> ImageChecked;  // read when the image's turn comes
    std::function<void()> ProcessEvents;       // one pass over pending window events
    std::function<void(const QString&)> ShowError;
    // Optional: called when an image starts, after each accepted block and when the image
    // ends (written or failed).
    std::function<void(const TImageReport&)> ImageProgress;
    // Optional: called with every new phase, on the thread that runs the sequence.
    std::function<void(TPhase)> PhaseChanged;
  };

  TUpdateSequence(TCommDrv& drv, TView view);

  // The whole sequence, run to its end (ButtonStartClick): the image file is loaded afresh into
  // the sequence's own image memory. Refused while a run is going on.
  TRunOutcome Run(const TUpdateOptions& options);
  // The same with an image already loaded and checked (options.fileName is not read): the
  // sequence only reads the image. sha256 is recorded in the report.
  TRunOutcome RunLoaded(const TUpdateOptions& options, const TImageMemory& image,
                        const QString& sha256);
  bool Running() const { return running_; }
  TPhase Phase() const { return phase_; }
  // Ends a running sequence after the block or exchange in flight: nothing more is sent and the
  // port is closed, without DownloadFinish. May be called from any thread.
  void RequestStop() { stopRequested_ = true; }
  // What the last run did.
  const TRunReport& LastReport() const { return report_; }

 private:
  bool EnsureConnected();
  void SendFrame(const uint8_t* payload, size_t n);
  // The driver's OnReceiveData handler.
  void CommDrvReceiveData(QObject* Sender, const void* DataPtr, uint32_t DataSize);
  // One answer from the line into buffer[0 .. size) (ReadAnswerFrame).
  size_t ReadAnswer(uint8_t* buffer, size_t size);
  void PollExchange(uint8_t* ex);
  void CommandExchange(uint8_t* ex, const uint8_t* payload, size_t n);
  void Pause(int ms);
  bool Stopping() const { return stopRequested_; }
  void SetPhase(TPhase phase);
  TRunOutcome Begin(const TUpdateOptions& options, TPhase phase);
  TRunOutcome Update(const TUpdateOptions& options, const uint8_t* image);
  TRunOutcome Finish(TRunOutcome outcome, const QString& status);

  TCommDrv& drv_;
  TImageMemory memory_;
  TView view_;
  std::array<uint8_t, kFrameBufferSize> frame_{};
  TStrayCollector stray_;
  uint8_t lastAddress_ = 0;  // address of the last frame sent
  bool running_ = false;
  std::atomic<bool> stopRequested_ = false;
  std::atomic<TPhase> phase_ = TPhase::Idle;
  TRunReport report_;
  qint64 startedMs_ = 0;
};

}  // namespace velkup
