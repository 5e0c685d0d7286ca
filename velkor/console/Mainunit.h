// TMainForm: Velkor's main window. Its controls (ui->BtnResetHard, ...) carry the names of the
// window's design, as their object names too; its handlers read them, call the plain classes of
// each part (the link and its device search, the poll cycle, the statistics request, the download
// procedure, the answer decoders) and write the outcome into the message log. What the window
// holds (the link with its port, the bill names, the firmware image, its child windows) is its
// own; others see its controls, its log and its boxes. Modal boxes, dialogs and secondary windows
// go through ConsoleDialogs so that tests answer them without blocking.
#pragma once

#include <QSet>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "About.h"
#include "ConsoleDialogs.h"
#include "DeviceCommands.h"
#include "DownloadProcedure.h"
#include "HexFile.h"
#include "PollCycle.h"
#include "SessionLog.h"
#include "Statformunit.h"
#include "StatusText.h"
#include "ZelnetLink.h"

class QCloseEvent;
class QLineEdit;
class QPushButton;

namespace Ui {
class TMainForm;
}

namespace velkor {

class THelpWindow;

// Texts of the window's own boxes and lines.
inline const QString kTextCloseQuery = QStringLiteral("Close the programm?");
inline const QString kTextIncorrectValue = QStringLiteral("The incorrect value is entered!");
inline const QString kTextBusNotFound = QStringLiteral("BV hasn't found!");
inline const QString kTextResetNotFound = QStringLiteral("The BV is not found!");

// What a test (or another front end) may replace in the main window; the defaults are the real
// boxes and dialogs and the real serial ports.
struct TMainFormSetup {
  ConsoleDialogs* Dialogs = nullptr;
  TComPort::LineOpener Opener;
};

// The poll loop's actions are the window's own handlers; the download reaches its log and boxes.
class TMainForm : public QWidget, private TPollActions, private DownloadHost {
  Q_OBJECT

 public:
  using Setup = TMainFormSetup;

  // Builds the window and runs FormCreate, which ends with the search for the validator (Bus
  // Reset) before the constructor returns, so its box, if any, comes before the window is shown.
  explicit TMainForm(Setup setup = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  // One line into the message log, which keeps at most 101 lines.
  void AddMessage(const QString& text) override;
  // Enables or disables the command controls; BtnStopPoll only when withStopPoll is true.
  void SetControlsEnabled(bool enabled, bool withStopPoll);
  void ErrorBox(const QString& text) override { dialogs_.ErrorBox(this, text); }
  // Status decoding: at most one line into the log.
  void ShowStatus(uint8_t status, uint8_t sub) override { Show(Commands.StatusLines(status, sub)); }

 public slots:
  void FormCreate();
  void BtnExitClick() { close(); }
  void SpBtnHelpClick();
  void SpBtnAboutClick() { dialogs_.ShowModal(*DlgAbout); }
  void BtnResetHardClick();
  void BtnResetSoftClick();
  void BtnGetStatusClick() { Show(Commands.GetStatus()); }
  void BtnSetSecurityClick();
  void BtnEnableBillClick() override;
  void BtnDisableBillClick() { Show(Commands.DisableBills()); }
  void BtnStackClick() override { Show(Commands.Stack()); }
  void BtnReturnClick() override { Show(Commands.Return()); }
  void BtnIdentificationClick() override { Show(Commands.Identification()); }
  void BtnHoldClick() { Show(Commands.Hold()); }
  void BtnSetParamBarCodeClick() { Show(Commands.SetupBarcode(ChosenBarcodeLength())); }
  void BtnReqBarCodeClick() override { Show(Commands.ExtractBarcode(ChosenBarcodeLength())); }
  void BtnGetDescriptionClick() override { Show(Commands.GetBillTable()); }
  void BtnPollClick() { Show(Commands.Poll()); }
  void BtnStartPollClick();
  void BtnStopPollClick() { PollActive = 0; }
  void Button2Click() { Link.SendAck(); }
  void BtnReqStatClick();
  void BtnViewStatisticClick() { dialogs_.ShowModal(*StatisticForm); }
  void BtnDownloadClick();
  void Button1Click() { Show(Commands.Crc32()); }
  // The handler of TimerComPort: a waiting answer read ends as its time-out would.
  void TimerComPortTimer() { Link.TimerComPortTimer(); }

 protected:
  // FormCloseQuery: asks "Close the programm?"; a confirmed close while the poll loop runs ends
  // the loop first and closes the window when it has returned.
  void closeEvent(QCloseEvent* event) override;

 private:
  std::unique_ptr<Ui::TMainForm> ui;
  std::unique_ptr<ConsoleDialogs> ownDialogs_;
  ConsoleDialogs& dialogs_;
  std::unique_ptr<FirmwareImageBytes> firmwareImage_ = std::make_unique<FirmwareImageBytes>();
  uint8_t PollActive = 0;      // set while the Start Poll loop runs
  uint8_t CloseRequested = 0;  // set once the operator has confirmed closing
  // The command transaction with the port and its state, and the device search.
  ZelnetLink Link;
  BillNameTable BillNames;  // Latin-1 text of bill types 0-23, filled by Get Bill Table
  TDeviceCommands Commands{Link, BillNames};
  // The download image (two 64 KB banks, 0xFF where the last HEX file wrote nothing).
  FirmwareImageBytes& FirmwareImage = *firmwareImage_;
  HexLoadState HexLoad;
  TOpenDialog OpenDlg;  // the firmware file dialog, filter "HEX-Files(*.hex)|*.hex"
  TStatisticForm* StatisticForm = nullptr;
  TDlgAbout* DlgAbout = nullptr;
  THelpWindow* HelpWindow = nullptr;  // created on first use
  SessionLog SessionRecord;           // every log line, time-stamped, in this run's file

  void ConnectHandlers();
  // Why a port did not open: a line of the session record, and once on standard error.
  void NoteOpenProblem(const QString& text);
  QSet<QString> notedProblems_;
  // The buttons that start an exchange, with their handlers: their clicks pass ClickRefused, and
  // the control lock covers them.
  std::vector<std::pair<QPushButton*, void (TMainForm::*)()>> exchanges_;
  // The one guard of every click that would start an exchange: while one waits for its answer
  // (or, for a search, while a search runs) the click is refused with one line.
  bool ClickRefused(QPushButton* button);
  // Runs the device search with the progress bar and the rate box; the port found, or 0.
  int Search(ZelnetLink::Probe probe);
  void Show(const QStringList& lines);
  // The edits of bit-mask group 1 (enable), 2 (escrow) or 3 (security), and their three bytes;
  // on a wrong edit ReadBitEdits shows "The incorrect value is entered!" and returns false.
  std::array<QLineEdit*, 3> BitEdits(int group) const;
  bool ReadBitEdits(int group, std::array<uint8_t, 3>& bytes);
  // The number of barcode characters chosen when the request goes out.
  int ChosenBarcodeLength() const;
  void ResetSoft() override;
  int EscrowChoice() const override;
  std::optional<QString> ChooseFile() override;
  void Message(const QString& text) override { dialogs_.Message(this, text); }
};

}  // namespace velkor
