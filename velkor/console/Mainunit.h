// TMainForm: Velkor's main window. Its controls (ui->BtnResetHard, ...) carry the names of the
// window's design; its handlers read them, run the command transaction of the ZelnetLink it owns,
// decode the answers with the plain functions of StatusText.h and DeviceAnswers.h, and write the
// outcome into the message log. Modal boxes, dialogs and secondary windows go through
// ConsoleDialogs so that tests answer them without blocking.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "ConsoleDialogs.h"
#include "HexFile.h"
#include "SessionLog.h"
#include "StatusText.h"
#include "ZelnetLink.h"

class QCloseEvent;
class TStatisticForm;

namespace Ui {
class TMainForm;
}

namespace velkor {

class TDlgAbout;
class THelpWindow;

// Texts of the window's own boxes and lines.
inline const QString kTextCloseQuery = QStringLiteral("Close the programm?");
inline const QString kTextIncorrectValue = QStringLiteral("The incorrect value is entered!");
inline const QString kTextBusNotFound = QStringLiteral("BV hasn't found!");
inline const QString kTextResetNotFound = QStringLiteral("The BV is not found!");
inline const QString kTextResetDone = QStringLiteral("The Reset-soft is executed successfully!");
inline const QString kTextSearchBusy = QStringLiteral("The line is busy - search refused!");

// What a test (or another front end) may replace in the main window; the defaults are the real
// boxes and dialogs and the real serial ports.
struct TMainFormSetup {
  ConsoleDialogs* Dialogs = nullptr;
  std::function<std::unique_ptr<SerialLine>(const QString& path)> Opener;
};

class TMainForm : public QWidget {
  Q_OBJECT

 public:
  using Setup = TMainFormSetup;

  // Builds the window and runs FormCreate, which ends with the search for the validator (Bus
  // Reset) before the constructor returns, so its box, if any, comes before the window is shown.
  explicit TMainForm(Setup setup = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  // The controls, under their names.
  std::unique_ptr<Ui::TMainForm> ui;

 private:
  std::unique_ptr<ConsoleDialogs> ownDialogs_;
  ConsoleDialogs& dialogs_;

 public:
  // The command transaction, its port and timers.
  ZelnetLink Link;

  // Shared state of the window (the link owns the port handle, LastStatus, the port object and
  // the timers; these names reach them).
  LineHandle& PortHandle = Link.PortHandle;
  uint8_t PollActive = 0;
  uint8_t& LastStatus = Link.LastStatus;
  uint8_t CloseRequested = 0;
  BillNameTable BillNames;  // Latin-1 text of bill types 0-23, filled by Get Bill Table
  TComPort& SerialPort = Link.SerialPort;
  QTimer& TimerDelay = Link.TimerDelay;
  QTimer& TimerComPort = Link.TimerComPort;

  // The download image (two 64 KB banks, 0xFF where the last HEX file wrote nothing) and what
  // its load found.
 private:
  std::unique_ptr<FirmwareImageBytes> firmwareImage_ = std::make_unique<FirmwareImageBytes>();

 public:
  FirmwareImageBytes& FirmwareImage = *firmwareImage_;
  HexLoadState HexLoad;

  // The firmware file dialog (filter "HEX-Files(*.hex)|*.hex").
  TOpenDialog OpenDlg;
  // Secondary windows: the statistics window and the About box are created at start-up, the help
  // window on first use.
  TStatisticForm* StatisticForm = nullptr;
  TDlgAbout* DlgAbout = nullptr;
  THelpWindow* HelpWindow = nullptr;

  // Every line of the message log, time-stamped, in this run's file.
  SessionLog SessionRecord;

  // Boxes, dialogs and modal windows of every part of the program go through here.
  ConsoleDialogs& Dialogs() { return dialogs_; }

  // One line into the message log, which keeps at most 101 lines.
  void AddMessage(const QString& text);
  // The log's lines, oldest first.
  QStringList MessageLines() const;
  // Enables or disables the command controls; BtnStopPoll only when withStopPoll is true.
  void SetControlsEnabled(bool enabled, bool withStopPoll);
  // Modal error box with one Yes button.
  void ErrorBox(const QString& text);

  // The link's operations under the window's names.
  void BuildFrame(uint8_t code, std::span<uint8_t> frame) { Link.BuildFrame(code, frame); }
  int SendCommand(uint8_t code, std::span<uint8_t> buffer, int ticks) {
    return Link.SendCommand(code, buffer, ticks);
  }
  void SendAck() { Link.SendAck(); }
  void Delay(int ms) { Link.Delay(ms); }

  // Status decoding: at most one line into the log.
  void ShowStatus(uint8_t status, uint8_t sub);
  void ShowRejectReason(uint8_t code);
  void ShowFailure(uint8_t code);

  // Reads bit-mask group 1 (enable), 2 (escrow) or 3 (security) into three bytes; on a wrong
  // edit shows "The incorrect value is entered!" and returns false.
  bool ReadBitEdits(int group, std::array<uint8_t, 3>& bytes);

  // Every answer buffer of the console's commands holds the longest short frame.
  static constexpr size_t kAnswerBufferSize = 256;
  // The statistics request's answer buffer.
  static constexpr size_t kStatisticsBufferSize = 10000;

 public slots:
  void FormCreate();
  void BtnExitClick();
  void SpBtnHelpClick();
  void SpBtnAboutClick();
  void TimerDelayTimer();
  void TimerComPortTimer();

  // Device search and bus reset.
  void BtnResetHardClick();
  void BtnResetSoftClick();

  // Device commands.
  void BtnGetStatusClick();
  void BtnSetSecurityClick();
  void BtnEnableBillClick();
  void BtnDisableBillClick();
  void BtnStackClick();
  void BtnReturnClick();
  void BtnIdentificationClick();
  void BtnHoldClick();
  void BtnSetParamBarCodeClick();
  void BtnReqBarCodeClick();
  void BtnGetDescriptionClick();

  // Polling and acknowledgement.
  void BtnPollClick();
  void BtnStartPollClick();
  void BtnStopPollClick();
  void Button2Click();

  // Statistics and firmware download: wired by their own units (MainunitExtensions.cpp).
  void BtnReqStatClick();
  void BtnViewStatisticClick();
  void BtnDownloadClick();
  void Button1Click();

 protected:
  // FormCloseQuery: asks "Close the programm?"; a confirmed close while the poll loop runs ends
  // the loop first and closes the window when it has returned.
  void closeEvent(QCloseEvent* event) override;

 private:
  void ConnectHandlers();
  // A search is refused while an exchange waits for its answer or another search runs.
  bool SearchRefused();
  // The pause between two passes of the poll loop.
  void PollPause();

  bool searching_ = false;
};

}  // namespace velkor
