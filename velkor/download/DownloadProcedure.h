// The Download button's procedure between locking and unlocking the controls: the Download
// command, download mode, the choice and check of the HEX file, and the programming of the image
// with its result line. The window supplies its log, its dialogs and its progress bar.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "FirmwareDownload.h"
#include "HexFile.h"
#include "ZelnetLink.h"

namespace velkor {

// What the procedure needs from its window.
class DownloadHost {
 public:
  virtual ~DownloadHost() = default;
  virtual void AddMessage(const QString& text) = 0;  // one line into the message log
  virtual std::optional<QString> ChooseFile() = 0;   // the file dialog; none when cancelled
  virtual void ErrorBox(const QString& text) = 0;    // modal error box
  virtual void Message(const QString& text) = 0;     // modal message box
};

// Reads the whole file, but never more than one byte beyond the largest HEX file taken, so a
// huge file is refused by the checking pass without being held in memory. False when the file
// cannot be opened or read.
bool ReadFirmwareFile(const QString& path, std::string& contents);

class TDownloadProcedure {
 public:
  TDownloadProcedure(ZelnetLink& link, TProgressSteps& progress, DownloadHost& host)
      : link_(link), progress_(progress), host_(host) {}

  // Runs the procedure; the image and its load state are those of the last HEX file loaded.
  void Run(FirmwareImageBytes& image, HexLoadState& state);

 private:
  void Log(std::string_view line);

  ZelnetLink& link_;
  TProgressSteps& progress_;
  DownloadHost& host_;
};

}  // namespace velkor
