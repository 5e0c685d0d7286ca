// TMainForm: Velkor's main window. Its controls (ui->BtnResetHard, ...) carry the names of the
// window's design; its handlers read them, call the plain classes of each part (the link and its
// device search, the poll cycle, the statistics request, the download procedure, the answer
// decoders) and write the outcome into the message log. Modal boxes, dialogs and secondary
// windows go through ConsoleDialogs so that tests answer them without blocking.
#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "ConsoleDialogs.h"
#include "DeviceCommands.h"
#include "HexFile.h"
#include "PollCycle.h"
#include "StatusText.h"
#include "ZelnetLink.h"

class QCloseEvent;
class QPushButton;
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

// The poll loop's actions are the window's own handlers.
class TMainForm : public QWidget, private TPollActions {
  Q_OBJECT

 public:
  using Setup = TMainFormSetup;

  // Builds the window and runs FormCreate, which ends with the search for the validator (Bus
  // Reset) before the constructor returns, so its box, if any, comes before the window is shown.
  explicit TMainForm(Setup setup = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  std::unique_ptr<Ui::TMainForm> ui;

 private:
  std::unique_ptr<ConsoleDialogs> ownDialogs_;
  ConsoleDialogs& dialogs_;

 public:
  // The command transaction, its port and timers, and the device search.
  ZelnetLink Link;
  LineHandle& PortHandle = Link.PortHandle;
  uint8_t& LastStatus = Link.LastStatus;
  TComPort& SerialPort = Link.SerialPort;
  QTimer& TimerDelay = Link.TimerDelay;
  QTimer& TimerComPort = Link.TimerComPort;
  uint8_t PollActive = 0;
  uint8_t CloseRequested = 0;
  BillNameTable BillNames;  // Latin-1 text of bill types 0-23, filled by Get Bill Table
  TDeviceCommands Commands{Link, BillNames};

 private:
  std::unique_ptr<FirmwareImageBytes> firmwareImage_ = std::make_unique<FirmwareImageBytes>();

 public:
  // The download image (two 64 KB banks, 0xFF where the last HEX file wrote nothing).
  FirmwareImageBytes& FirmwareImage = *firmwareImage_;
  HexLoadState HexLoad;
  TOpenDialog OpenDlg;  // the firmware file dialog, filter "HEX-Files(*.hex)|*.hex"
  TStatisticForm* StatisticForm = nullptr;
  TDlgAbout* DlgAbout = nullptr;
  THelpWindow* HelpWindow = nullptr;  // created on first use

  ConsoleDialogs& Dialogs() { return dialogs_; }
  // One line into the message log, which keeps at most 101 lines.
  void AddMessage(const QString& text);
  QStringList MessageLines() const;
  // Enables or disables the command controls; BtnStopPoll only when withStopPoll is true.
  void SetControlsEnabled(bool enabled, bool withStopPoll);
  void ErrorBox(const QString& text);
  int SendCommand(uint8_t code, std::span<uint8_t> buffer, int ticks) {
    return Link.SendCommand(code, buffer, ticks);
  }
  // Status decoding: at most one line into the log.
  void ShowStatus(uint8_t status, uint8_t sub) override { Show(Commands.StatusLines(status, sub)); }
  // Reads bit-mask group 1 (enable), 2 (escrow) or 3 (security) into three bytes; on a wrong
  // edit shows "The incorrect value is entered!" and returns false.
  bool ReadBitEdits(int group, std::array<uint8_t, 3>& bytes);

 public slots:
  void FormCreate();
  void BtnExitClick() { close(); }
  void SpBtnHelpClick();
  void SpBtnAboutClick();
  void TimerDelayTimer() { TimerDelay.stop(); }
  void TimerComPortTimer() { TimerComPort.stop(); }
  void BtnResetHardClick();
  void BtnResetSoftClick();
  void BtnGetStatusClick() { Show(Commands.GetStatus()); }
  void BtnSetSecurityClick();
  void BtnEnableBillClick();
  void BtnDisableBillClick() { Show(Commands.DisableBills()); }
  void BtnStackClick() { Show(Commands.Stack()); }
  void BtnReturnClick() { Show(Commands.Return()); }
  void BtnIdentificationClick() { Show(Commands.Identification()); }
  void BtnHoldClick() { Show(Commands.Hold()); }
  void BtnSetParamBarCodeClick();
  void BtnReqBarCodeClick();
  void BtnGetDescriptionClick() { Show(Commands.GetBillTable()); }
  void BtnPollClick() { Show(Commands.Poll()); }
  void BtnStartPollClick();
  void BtnStopPollClick() { PollActive = 0; }
  void Button2Click() { Link.SendAck(); }
  void BtnReqStatClick();
  void BtnViewStatisticClick();
  void BtnDownloadClick();
  void Button1Click() { Show(Commands.Crc32()); }

 protected:
  // FormCloseQuery: asks "Close the programm?"; a confirmed close while the poll loop runs ends
  // the loop first and closes the window when it has returned.
  void closeEvent(QCloseEvent* event) override;

 private:
  void ConnectHandlers();
  // The one guard of every click that would start an exchange: while one waits for its answer
  // (or, for a search, while a search runs) the click is refused with one line.
  bool ClickRefused(QPushButton* button);
  // Runs the device search with the progress bar and the rate box; the port found, or 0.
  int Search(ZelnetLink::Probe probe);
  void Show(const QStringList& lines);
  void ResetSoft() override;
  void Identification() override { BtnIdentificationClick(); }
  void GetBillTable() override { BtnGetDescriptionClick(); }
  void EnableBills() override { BtnEnableBillClick(); }
  void Stack() override { BtnStackClick(); }
  void Return() override { BtnReturnClick(); }
  void RequestBarcode() override { BtnReqBarCodeClick(); }
  int EscrowChoice() const override;
};

}  // namespace velkor
