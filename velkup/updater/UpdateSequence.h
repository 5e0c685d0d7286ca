// The update sequence: load the image file, bring the validator to a quiet state, switch it to
// update mode, write the checked images block by block with their percentages, end update mode.
// It talks to the line through TCommDrv and to the window only through the callbacks of TView,
// so it runs and is tested without a window.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>

#include "Commdrv.h"
#include "Frames.h"
#include "ImageFile.h"

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
};

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
  };

  TUpdateSequence(TCommDrv& drv, TImageMemory& memory, TView view);

  // The whole sequence, run to its end (ButtonStartClick). Refused while a run is going on.
  TRunOutcome Run(const TUpdateOptions& options);
  bool Running() const { return running_; }
  // Ends a running sequence after the block or exchange in flight: nothing more is sent and the
  // port is closed.
  void RequestStop() { stopRequested_ = true; }

  // Operations of the sequence, also used by the window.
  bool EnsureConnected();
  void SendFrame(const uint8_t* payload, size_t n);
  // Reads one answer by its length byte (3 bytes, then byte 2 minus 3 more), bounded by the
  // buffer of kExchangeBufferSize bytes.
  void ReadAnswerFrame(uint8_t* buffer);
  // The driver's OnReceiveData handler.
  void CommDrvReceiveData(QObject* Sender, const void* DataPtr, uint32_t DataSize);

  const uint8_t* FrameBuffer() const { return frame_.data(); }
  int32_t ReceivedCount() const { return stray_.Count(); }

  // Longest time the preparation keeps polling while the validator answers Initialize or
  // Idling; after it the sequence goes on to update mode.
  int prepareLimitMs = 60000;

 private:
  // Reads an answer of at most max bytes, by its frame length: it returns as soon as the whole
  // frame is there instead of waiting for bytes that never come. Byte 3 is cleared first, so a
  // short or missing answer never leaves an older state there.
  void ReadAnswer(uint8_t* buffer, size_t max);
  void PollExchange(uint8_t* ex);
  void CommandExchange(uint8_t* ex, const uint8_t* payload, size_t n);
  void Pause(int ms);
  bool Stopping() const { return stopRequested_; }
  TRunOutcome Finish(TRunOutcome outcome, const QString& status);

  TCommDrv& drv_;
  TImageMemory& memory_;
  TView view_;
  std::array<uint8_t, kFrameBufferSize> frame_{};
  TStrayCollector stray_;
  uint8_t lastAddress_ = 0;  // address of the last frame sent
  bool running_ = false;
  bool stopRequested_ = false;
};
