#include "Mainunit.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStyle>
#include <QThread>
#include <QTimer>

#include "About.h"
#include "DeviceAnswers.h"
#include "Frame.h"
#include "HelpWindow.h"
#include "Statformunit.h"
#include "ui_Mainunit.h"

namespace velkor {

namespace {

// The log keeps at most this many lines.
constexpr int kLogLines = 101;
// A port that cannot be opened costs this blocking pause during a search.
constexpr unsigned long kFailedOpenPauseMs = 300;
// The RTS pulse of the bus reset and the validator's restart time after it.
constexpr int kRtsPulseMs = 50;
constexpr int kRestartWaitMs = 2000;
// The poll loop's pause between two passes.
constexpr int kPollPauseMs = 100;

// Bill type whose escrow and first stacked report bring a barcode read.
constexpr uint8_t kBarcodeBillType = 23;

// Request data start at frame byte 4.
constexpr size_t kRequestData = 4;

using AnswerBuffer = std::array<uint8_t, TMainForm::kAnswerBufferSize>;

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TMainForm::TMainForm(Setup setup, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TMainForm>()),
      ownDialogs_(setup.Dialogs ? nullptr : std::make_unique<QtConsoleDialogs>()),
      dialogs_(setup.Dialogs ? *setup.Dialogs : *ownDialogs_),
      Link(LinkHost{[this](const QString& line) { AddMessage(line); },
                    [this] { return ui->CheckBox1->isChecked(); },
                    [this](const QString& text) { ErrorBox(text); }}),
      OpenDlg(dialogs_, this) {
  ui->setupUi(this);
  ui->SpBtnHelp->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
  ui->SpBtnAbout->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
  setWindowIcon(QIcon(ProgramPicture(64)));
  ui->MemoMessage->setMaximumBlockCount(kLogLines);
  AddSessionLogMenu(*ui->MemoMessage, SessionRecord, dialogs_);
  OpenDlg.Filter = QStringLiteral("HEX-Files(*.hex)|*.hex");
  FirmwareImage.fill(0xFF);
  if (setup.Opener) SerialPort.Opener = std::move(setup.Opener);
  ConnectHandlers();

  FormCreate();

  // The statistics window is created here, before the About box; both stay hidden until asked.
  StatisticForm = new TStatisticForm(this);
  DlgAbout = new TDlgAbout(this);
}

TMainForm::~TMainForm() {
  // FormDestroy: release the port if one is open.
  if (PortHandle) Link.ClosePort();
}

void TMainForm::ConnectHandlers() {
  connect(ui->BtnExit, &QPushButton::clicked, this, &TMainForm::BtnExitClick);
  connect(ui->SpBtnHelp, &QToolButton::clicked, this, &TMainForm::SpBtnHelpClick);
  connect(ui->SpBtnAbout, &QToolButton::clicked, this, &TMainForm::SpBtnAboutClick);
  connect(&TimerDelay, &QTimer::timeout, this, &TMainForm::TimerDelayTimer);
  connect(&TimerComPort, &QTimer::timeout, this, &TMainForm::TimerComPortTimer);

  const std::pair<QPushButton*, void (TMainForm::*)()> buttons[] = {
      {ui->BtnResetHard, &TMainForm::BtnResetHardClick},
      {ui->BtnResetSoft, &TMainForm::BtnResetSoftClick},
      {ui->BtnGetStatus, &TMainForm::BtnGetStatusClick},
      {ui->BtnIdentification, &TMainForm::BtnIdentificationClick},
      {ui->BtnGetDescription, &TMainForm::BtnGetDescriptionClick},
      {ui->BtnStack, &TMainForm::BtnStackClick},
      {ui->BtnReturn, &TMainForm::BtnReturnClick},
      {ui->BtnHold, &TMainForm::BtnHoldClick},
      {ui->BtnReqBarCode, &TMainForm::BtnReqBarCodeClick},
      {ui->BtnSetParamBarCode, &TMainForm::BtnSetParamBarCodeClick},
      {ui->BtnEnableBill, &TMainForm::BtnEnableBillClick},
      {ui->BtnDisableBill, &TMainForm::BtnDisableBillClick},
      {ui->BtnSetSecurity, &TMainForm::BtnSetSecurityClick},
      {ui->BtnReqStat, &TMainForm::BtnReqStatClick},
      {ui->BtnViewStatistic, &TMainForm::BtnViewStatisticClick},
      {ui->BtnDownload, &TMainForm::BtnDownloadClick},
      {ui->Button1, &TMainForm::Button1Click},
      {ui->BtnPoll, &TMainForm::BtnPollClick},
      {ui->BtnStartPoll, &TMainForm::BtnStartPollClick},
      {ui->BtnStopPoll, &TMainForm::BtnStopPollClick},
      {ui->Button2, &TMainForm::Button2Click},
  };
  for (const auto& [button, handler] : buttons) {
    connect(button, &QPushButton::clicked, this, handler);
  }
}

// ---- Window, log and control lock ----

void TMainForm::FormCreate() {
  ui->CmbBoxPoll->setCurrentIndex(0);
  ui->CmbBoxRate->setCurrentIndex(0);
  LastStatus = 0;
  ui->CmbBoxLenghtBarCode->setCurrentIndex(6);
  CloseRequested = 0;
  BtnResetHardClick();
}

void TMainForm::AddMessage(const QString& text) {
  // The log is capped at kLogLines lines: the oldest line goes when a new one would pass it.
  ui->MemoMessage->appendPlainText(text);
  SessionRecord.Add(text);
}

QStringList TMainForm::MessageLines() const {
  const QString text = ui->MemoMessage->toPlainText();
  if (text.isEmpty() && ui->MemoMessage->document()->blockCount() <= 1) return {};
  return text.split(QLatin1Char('\n'));
}

void TMainForm::SetControlsEnabled(bool enabled, bool withStopPoll) {
  QWidget* const controls[] = {
      ui->EditEnBillByte1,   ui->EditEnBillByte2,
      ui->EditEnBillByte3,   ui->EditEscBillByte1,
      ui->EditEscBillByte2,  ui->EditEscBillByte3,
      ui->EditSecurityByte1, ui->EditSecurityByte2,
      ui->EditSecurityByte3, ui->CmbBoxRate,
      ui->BtnDisableBill,    ui->BtnDownload,
      ui->BtnEnableBill,     ui->BtnGetDescription,
      ui->BtnGetStatus,      ui->BtnHold,
      ui->BtnIdentification, ui->BtnPoll,
      ui->BtnStartPoll,      ui->BtnReqStat,
      ui->BtnResetSoft,      ui->BtnResetHard,
      ui->BtnReturn,         ui->BtnSetSecurity,
      ui->BtnStack,          ui->BtnSetParamBarCode,
      ui->BtnReqBarCode,     ui->BtnExit,
      ui->Button1,           ui->Button2,
  };
  for (QWidget* control : controls) control->setEnabled(enabled);
  if (withStopPoll) ui->BtnStopPoll->setEnabled(enabled);
}

void TMainForm::ErrorBox(const QString& text) {
  dialogs_.ErrorBox(this, text);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (!CloseRequested) {
    if (!dialogs_.ConfirmClose(this, kTextCloseQuery)) {
      event->ignore();
      return;
    }
    CloseRequested = 1;
  }
  if (PollActive) {
    // The poll loop runs inside this window: it sees CloseRequested at its next pass, returns,
    // and closes the window then.
    event->ignore();
    return;
  }
  event->accept();
}

void TMainForm::BtnExitClick() {
  close();
}

void TMainForm::SpBtnHelpClick() {
  if (!HelpWindow) HelpWindow = new THelpWindow(this);
  dialogs_.ShowWindow(*HelpWindow);
}

void TMainForm::SpBtnAboutClick() {
  dialogs_.ShowModal(*DlgAbout);
}

// Single-shot timers stop by themselves; the handlers make sure of it.
void TMainForm::TimerDelayTimer() {
  TimerDelay.stop();
}

void TMainForm::TimerComPortTimer() {
  TimerComPort.stop();
}

// ---- Status decoding ----

void TMainForm::ShowStatus(uint8_t status, uint8_t sub) {
  if (const auto line = StatusText(status, sub, BillNames)) AddMessage(Latin1(*line));
}

void TMainForm::ShowRejectReason(uint8_t code) {
  if (const auto line = RejectReasonText(code)) AddMessage(Latin1(*line));
}

void TMainForm::ShowFailure(uint8_t code) {
  if (const auto line = FailureText(code)) AddMessage(Latin1(*line));
}

// ---- Device search and bus reset ----

bool TMainForm::SearchRefused() {
  if (!Link.ExchangeBusy() && !searching_) return false;
  AddMessage(kTextSearchBusy);
  return true;
}

void TMainForm::BtnResetHardClick() {
  if (SearchRefused()) return;
  searching_ = true;
  ui->BtnResetHard->setEnabled(false);
  ui->ProgBarMain->setRange(0, 8);
  if (PortHandle) Link.ClosePort();

  AnswerBuffer buffer{};
  QString found;
  for (int n = 1; n <= 4; ++n) {
    ui->ProgBarMain->setValue(n);
    const QString result = QStringLiteral("Device has found on COM%1!").arg(n);
    PortHandle = SerialPort.OpenPort(static_cast<char>('0' + n),
                                     BaudForIndex(ui->CmbBoxRate->currentIndex()));
    if (!PortHandle) {
      QThread::msleep(kFailedOpenPauseMs);
      continue;
    }
    SerialPort.SetRts(true, PortHandle);
    Delay(kRtsPulseMs);
    SerialPort.SetRts(false, PortHandle);
    Delay(kRestartWaitMs);
    buffer.fill(0);
    if (SendCommand(kCmdPoll, buffer, 30) == txOk) {
      found = result;
      break;
    }
    Link.ClosePort();
  }
  searching_ = false;

  if (found.isEmpty()) {
    ErrorBox(kTextBusNotFound);
  } else {
    AddMessage(kSeparator);
    AddMessage(found);
    BtnPollClick();
  }
  ui->ProgBarMain->setValue(0);
  ui->BtnResetHard->setEnabled(true);
}

void TMainForm::BtnResetSoftClick() {
  ui->BtnResetSoft->setEnabled(false);
  AnswerBuffer buffer{};
  if (PortHandle) {
    if (SendCommand(kCmdReset, buffer, 50) == txOk) {
      AddMessage(kSeparator);
      AddMessage(kTextResetDone);
    }
  } else if (!SearchRefused()) {
    searching_ = true;
    ui->ProgBarMain->setRange(0, 4);
    QString found;
    for (int n = 1; n <= 4; ++n) {
      ui->ProgBarMain->setValue(n);
      const QString result = QStringLiteral("The device is found in COM%1!").arg(n);
      PortHandle = SerialPort.OpenPort(static_cast<char>('0' + n),
                                       BaudForIndex(ui->CmbBoxRate->currentIndex()));
      if (!PortHandle) {
        QThread::msleep(kFailedOpenPauseMs);
        continue;
      }
      buffer.fill(0);
      if (SendCommand(kCmdReset, buffer, 30) == txOk) {
        found = result;
        break;
      }
      Link.ClosePort();
    }
    searching_ = false;
    if (found.isEmpty()) {
      ErrorBox(kTextResetNotFound);
    } else {
      AddMessage(kSeparator);
      AddMessage(found);
      AddMessage(kTextResetDone);
    }
  }
  ui->ProgBarMain->setValue(0);
  ui->BtnResetSoft->setEnabled(true);
}

// ---- Device commands ----

bool TMainForm::ReadBitEdits(int group, std::array<uint8_t, 3>& bytes) {
  QLineEdit* edits[3] = {};
  switch (group) {
    case 1:
      edits[0] = ui->EditEnBillByte1, edits[1] = ui->EditEnBillByte2,
      edits[2] = ui->EditEnBillByte3;
      break;
    case 2:
      edits[0] = ui->EditEscBillByte1, edits[1] = ui->EditEscBillByte2,
      edits[2] = ui->EditEscBillByte3;
      break;
    default:
      edits[0] = ui->EditSecurityByte1, edits[1] = ui->EditSecurityByte2,
      edits[2] = ui->EditSecurityByte3;
      break;
  }
  // Characters outside Latin-1 turn into '?', which is refused like any other wrong character.
  const QByteArray texts[3] = {edits[0]->text().toLatin1(), edits[1]->text().toLatin1(),
                               edits[2]->text().toLatin1()};
  const std::array<std::string_view, 3> views = {
      std::string_view(texts[0].constData(), static_cast<size_t>(texts[0].size())),
      std::string_view(texts[1].constData(), static_cast<size_t>(texts[1].size())),
      std::string_view(texts[2].constData(), static_cast<size_t>(texts[2].size()))};
  if (ParseBitEdits(views, bytes)) return true;
  ErrorBox(kTextIncorrectValue);
  return false;
}

void TMainForm::BtnGetStatusClick() {
  AnswerBuffer buffer{};
  if (SendCommand(kCmdGetStatus, buffer, 50) != txOk) return;
  const auto data = AnswerData(buffer);
  AddMessage(kSeparator);
  AddMessage(QStringLiteral("*********  Bill types enable  ********"));
  AddMessage(Latin1(MaskLine(data, 0)));
  AddMessage(QStringLiteral("******  Bill types set security  ******"));
  AddMessage(Latin1(MaskLine(data, 3)));
}

void TMainForm::BtnSetSecurityClick() {
  std::array<uint8_t, 3> security{};
  if (!ReadBitEdits(3, security)) return;
  AnswerBuffer buffer{};
  std::copy(security.begin(), security.end(), buffer.begin() + kRequestData);
  if (SendCommand(kCmdSetSecurity, buffer, 30) != txOk) return;
  AddMessage(kSeparator);
  AddMessage(QStringLiteral("The Security-command is executed"));
}

void TMainForm::BtnEnableBillClick() {
  std::array<uint8_t, 3> enable{};
  std::array<uint8_t, 3> escrow{};
  if (!ReadBitEdits(1, enable)) return;
  if (!ReadBitEdits(2, escrow)) return;
  if (enable == std::array<uint8_t, 3>{}) return;
  AnswerBuffer buffer{};
  std::copy(enable.begin(), enable.end(), buffer.begin() + kRequestData);
  std::copy(escrow.begin(), escrow.end(), buffer.begin() + kRequestData + 3);
  if (SendCommand(kCmdEnableBillTypes, buffer, 30) != txOk) return;
  AddMessage(kSeparator);
  AddMessage(QStringLiteral("The Enable Bill Types-command is executed"));
}

void TMainForm::BtnDisableBillClick() {
  AnswerBuffer buffer{};  // six 0x00 data bytes
  if (SendCommand(kCmdEnableBillTypes, buffer, 30) != txOk) return;
  AddMessage(kSeparator);
  AddMessage(QStringLiteral("The Disable Bill Types-command is executed"));
}

void TMainForm::BtnStackClick() {
  AnswerBuffer buffer{};
  if (SendCommand(kCmdStack, buffer, 30) != txOk) return;
  AddMessage(QStringLiteral("The Stack-command is executed"));
}

void TMainForm::BtnReturnClick() {
  AnswerBuffer buffer{};
  if (SendCommand(kCmdReturn, buffer, 30) != txOk) return;
  AddMessage(QStringLiteral("The Return-command is executed"));
}

void TMainForm::BtnHoldClick() {
  AnswerBuffer buffer{};
  if (SendCommand(kCmdHold, buffer, 30) != txOk) return;
  AddMessage(QStringLiteral("The Hold-command is executed"));
}

void TMainForm::BtnIdentificationClick() {
  AnswerBuffer buffer{};
  if (SendCommand(kCmdIdentification, buffer, 60) != txOk) return;
  AddMessage(kSeparator);
  for (const std::string& line : IdentificationLines(AnswerData(buffer))) AddMessage(Latin1(line));
}

void TMainForm::BtnSetParamBarCodeClick() {
  AnswerBuffer buffer{};
  buffer[kRequestData] = 0x01;
  buffer[kRequestData + 1] =
      static_cast<uint8_t>(BarcodeLength(ui->CmbBoxLenghtBarCode->currentIndex()));
  if (SendCommand(kCmdSetupBarcode, buffer, 30) != txOk) return;
  AddMessage(kSeparator);
  AddMessage(QStringLiteral("The Setup Barcode-command is executed"));
}

void TMainForm::BtnReqBarCodeClick() {
  // The number of characters shown is the one chosen when the request goes out.
  const int length = BarcodeLength(ui->CmbBoxLenghtBarCode->currentIndex());
  AnswerBuffer buffer{};
  if (SendCommand(kCmdExtractBarcode, buffer, 60) != txOk) return;
  AddMessage(Latin1(BarcodeLine(AnswerData(buffer), length)));
}

void TMainForm::BtnGetDescriptionClick() {
  AnswerBuffer buffer{};
  if (SendCommand(kCmdGetBillTable, buffer, 200) != txOk) return;
  AddMessage(kSeparator);
  const auto entries = DecodeBillTable(AnswerData(buffer));
  for (size_t k = 0; k < entries.size(); ++k) {
    BillNames[k] = entries[k].name;
    AddMessage(Latin1(entries[k].line));
  }
}

// ---- Polling ----

void TMainForm::BtnPollClick() {
  AnswerBuffer buffer{};
  if (SendCommand(kCmdPoll, buffer, 30) != txOk) return;
  const PollAnswer answer = ReadPollAnswer(AnswerData(buffer));
  ShowStatus(answer.status, answer.sub);
}

void TMainForm::Button2Click() {
  SendAck();
}

void TMainForm::BtnStopPollClick() {
  PollActive = 0;
}

void TMainForm::PollPause() {
  // About 100 ms between passes. The window's events (Stop Poll, closing, the controls left
  // enabled) are handled as they arrive; the thread sleeps in between instead of waking every
  // 10 ms to look for them.
  QElapsedTimer paused;
  paused.start();
  QEventLoop pause;
  QTimer::singleShot(kPollPauseMs, Qt::PreciseTimer, &pause, &QEventLoop::quit);
  pause.exec();
  // An event loop returns at once while the application is quitting: never poll faster.
  const qint64 rest = kPollPauseMs - paused.elapsed();
  if (rest > 0) QThread::msleep(static_cast<unsigned long>(rest));
}

void TMainForm::BtnStartPollClick() {
  if (!PortHandle) {
    ErrorBox(kTextNoPort);
    return;
  }
  if (PollActive) return;  // already polling (reached only by calling the handler directly)
  PollActive = 1;
  bool identified = false;
  SetControlsEnabled(false, false);
  BtnResetSoftClick();
  ui->BtnResetSoft->setEnabled(false);

  while (PollActive) {
    if (CloseRequested) {
      // The window is closing: leave without re-enabling the controls, then let it close.
      PollActive = 0;
      QTimer::singleShot(0, this, &QWidget::close);
      return;
    }
    AnswerBuffer buffer{};
    if (SendCommand(kCmdPoll, buffer, 30) == txOk) {
      const PollAnswer answer = ReadPollAnswer(AnswerData(buffer));
      const uint8_t s = answer.status;
      const uint8_t b = answer.sub;
      if (s != LastStatus) ShowStatus(s, b);
      SendAck();
      if (s == kStatusPowerUp || s == kStatusPowerUpBillInAcceptor ||
          s == kStatusPowerUpBillInStacker) {
        BtnResetSoftClick();
        ui->BtnResetSoft->setEnabled(false);
      }
      if (s == kStatusStacked && LastStatus != kStatusStacked && b == kBarcodeBillType) {
        BtnReqBarCodeClick();
      }
      if (s == kStatusEscrow) {
        if (b == kBarcodeBillType) BtnReqBarCodeClick();
        if (ui->CmbBoxPoll->currentIndex() == 0) {
          BtnReturnClick();
        } else {
          BtnStackClick();
        }
      }
      if (s == kStatusInitialize && !identified) {
        AnswerBuffer probe{};
        if (SendCommand(kCmdGetBillTable, probe, 200) == txOk) {
          identified = true;
          BtnIdentificationClick();
          BtnGetDescriptionClick();
        }
      }
      if (s == kStatusUnitDisabled) {
        identified = false;
        BtnEnableBillClick();
      }
      LastStatus = s;
    }
    PollPause();
  }
  SetControlsEnabled(true, false);
}

}  // namespace velkor
