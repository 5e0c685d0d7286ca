#include "Mainunit.h"

#include <QCloseEvent>
#include <QStyle>
#include <QTimer>

#include "About.h"
#include "DeviceAnswers.h"
#include "DownloadProcedure.h"
#include "Frame.h"
#include "HelpWindow.h"
#include "ItemChoice.h"
#include "ProgressBarSteps.h"
#include "StatDecode.h"
#include "Statformunit.h"
#include "StatisticsFill.h"
#include "StatisticsRequest.h"
#include "ui_Mainunit.h"

namespace velkor {

namespace {

constexpr int kLogLines = 101;
using AnswerBuffer = std::array<uint8_t, 256>;

QString Utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
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
  OpenDlg.Filter = QStringLiteral("HEX-Files(*.hex)|*.hex");
  FirmwareImage.fill(0xFF);
  if (setup.Opener) SerialPort.Opener = std::move(setup.Opener);
  ConnectHandlers();
  FormCreate();
  // The statistics window is created here, before the About box; both stay hidden until asked.
  StatisticForm = new TStatisticForm(this);
  DlgAbout = new TDlgAbout(this);
}

TMainForm::~TMainForm() = default;  // FormDestroy: the link releases the port

void TMainForm::ConnectHandlers() {
  connect(ui->SpBtnHelp, &QToolButton::clicked, this, &TMainForm::SpBtnHelpClick);
  connect(ui->SpBtnAbout, &QToolButton::clicked, this, &TMainForm::SpBtnAboutClick);
  connect(&TimerDelay, &QTimer::timeout, this, &TMainForm::TimerDelayTimer);
  connect(&TimerComPort, &QTimer::timeout, this, &TMainForm::TimerComPortTimer);
  // Every button but these three starts an exchange, and its click passes the guard first.
  connect(ui->BtnExit, &QPushButton::clicked, this, &TMainForm::BtnExitClick);
  connect(ui->BtnStopPoll, &QPushButton::clicked, this, &TMainForm::BtnStopPollClick);
  connect(ui->BtnViewStatistic, &QPushButton::clicked, this, &TMainForm::BtnViewStatisticClick);
  const std::pair<QPushButton*, void (TMainForm::*)()> exchanges[] = {
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
      {ui->BtnDownload, &TMainForm::BtnDownloadClick},
      {ui->Button1, &TMainForm::Button1Click},
      {ui->BtnPoll, &TMainForm::BtnPollClick},
      {ui->BtnStartPoll, &TMainForm::BtnStartPollClick},
      {ui->Button2, &TMainForm::Button2Click},
  };
  for (const auto& [button, handler] : exchanges) {
    connect(button, &QPushButton::clicked, this, [this, button = button, handler = handler] {
      if (!ClickRefused(button)) (this->*handler)();
    });
  }
}

bool TMainForm::ClickRefused(QPushButton* button) {
  const bool search = button == ui->BtnResetHard || (button == ui->BtnResetSoft && !PortHandle);
  if (!Link.ExchangeBusy() && !(search && Link.Searching())) return false;
  AddMessage(search ? kTextSearchBusy : kTextBusy);
  return true;
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
  ui->MemoMessage->appendPlainText(text);  // the oldest line goes beyond kLogLines
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
    if (!dialogs_.ConfirmClose(this, kTextCloseQuery)) return event->ignore();
    CloseRequested = 1;
  }
  // The poll loop runs inside this window: it sees CloseRequested at its next pass, returns,
  // and closes the window then.
  if (PollActive) return event->ignore();
  event->accept();
}

void TMainForm::SpBtnAboutClick() {
  dialogs_.ShowModal(*DlgAbout);
}

void TMainForm::BtnViewStatisticClick() {
  dialogs_.ShowModal(*StatisticForm);
}

void TMainForm::SpBtnHelpClick() {
  if (!HelpWindow) HelpWindow = new THelpWindow(this);
  dialogs_.ShowWindow(*HelpWindow);
}

// ---- Device search and bus reset ----

int TMainForm::Search(ZelnetLink::Probe probe) {
  ui->ProgBarMain->setRange(0, ZelnetLink::SearchSteps(probe));
  return Link.Search(
      probe, [this] { return BaudForIndex(ItemIndex(*ui->CmbBoxRate)); },
      [this](int n) { ui->ProgBarMain->setValue(n); });
}

void TMainForm::BtnResetHardClick() {
  ui->BtnResetHard->setEnabled(false);
  if (const int found = Search(ZelnetLink::Probe::BusReset)) {
    AddMessage(kSeparator);
    AddMessage(QStringLiteral("Device has found on COM%1!").arg(found));
    BtnPollClick();
  } else {
    ErrorBox(kTextBusNotFound);
  }
  ui->ProgBarMain->setValue(0);
  ui->BtnResetHard->setEnabled(true);
}

void TMainForm::BtnResetSoftClick() {
  ui->BtnResetSoft->setEnabled(false);
  if (PortHandle) {
    AnswerBuffer buffer{};
    if (SendCommand(kCmdReset, buffer, 50) == txOk) Show({kSeparator, kTextResetDone});
  } else if (const int found = Search(ZelnetLink::Probe::Reset)) {
    AddMessage(kSeparator);
    AddMessage(QStringLiteral("The device is found in COM%1!").arg(found));
    AddMessage(kTextResetDone);
  } else {
    ErrorBox(kTextResetNotFound);
  }
  ui->ProgBarMain->setValue(0);
  ui->BtnResetSoft->setEnabled(true);
}

// ---- Device commands ----

void TMainForm::Show(const QStringList& lines) {
  for (const QString& line : lines) AddMessage(line);
}

bool TMainForm::ReadBitEdits(int group, std::array<uint8_t, 3>& bytes) {
  const std::array<QLineEdit*, 3> edits =
      group == 1 ? std::array{ui->EditEnBillByte1, ui->EditEnBillByte2, ui->EditEnBillByte3}
      : group == 2
          ? std::array{ui->EditEscBillByte1, ui->EditEscBillByte2, ui->EditEscBillByte3}
          : std::array{ui->EditSecurityByte1, ui->EditSecurityByte2, ui->EditSecurityByte3};
  // Characters outside Latin-1 turn into '?', which is refused like any other wrong character.
  std::array<QByteArray, 3> texts;
  std::array<std::string_view, 3> views;
  for (size_t i = 0; i < 3; ++i) {
    texts[i] = edits[i]->text().toLatin1();
    views[i] = std::string_view(texts[i].constData(), static_cast<size_t>(texts[i].size()));
  }
  if (ParseBitEdits(views, bytes)) return true;
  ErrorBox(kTextIncorrectValue);
  return false;
}

void TMainForm::BtnSetSecurityClick() {
  if (std::array<uint8_t, 3> security{}; ReadBitEdits(3, security)) {
    Show(Commands.SetSecurity(security));
  }
}

void TMainForm::BtnEnableBillClick() {
  std::array<uint8_t, 3> enable{};
  std::array<uint8_t, 3> escrow{};
  if (ReadBitEdits(1, enable) && ReadBitEdits(2, escrow))
    Show(Commands.EnableBills(enable, escrow));
}

// The number of barcode characters is the one chosen when the request goes out.
void TMainForm::BtnSetParamBarCodeClick() {
  Show(Commands.SetupBarcode(BarcodeLength(ItemIndex(*ui->CmbBoxLenghtBarCode))));
}
void TMainForm::BtnReqBarCodeClick() {
  Show(Commands.ExtractBarcode(BarcodeLength(ItemIndex(*ui->CmbBoxLenghtBarCode))));
}
// ---- Polling ----

void TMainForm::BtnStartPollClick() {
  if (!PortHandle) return ErrorBox(kTextNoPort);
  if (PollActive) return;  // already polling (reached only by calling the handler directly)
  PollActive = 1;
  SetControlsEnabled(false, false);
  ResetSoft();
  TPollCycle cycle(Link, *this);
  while (PollActive) {
    if (CloseRequested) {
      // The window is closing: leave without re-enabling the controls, then let it close.
      PollActive = 0;
      QTimer::singleShot(0, this, &QWidget::close);
      return;
    }
    cycle.Pass();
    TPollCycle::Pause();
  }
  SetControlsEnabled(true, false);
}

// ---- Statistics and firmware download ----

void TMainForm::BtnReqStatClick() {
  const bool viewEnabled = ui->BtnViewStatistic->isEnabled();
  ui->BtnReqStat->setEnabled(false);
  ui->BtnViewStatistic->setEnabled(false);
  TStatisticsRequest request(Link);
  const StatisticsOutcome outcome = request.Run();
  if (outcome == StatisticsOutcome::Ok) {
    FillStatisticsTree(*StatisticForm, request.Block().data(), request.Block().size());
    AddMessage(Utf8(kTextStatisticsExecuted));
  } else if (outcome == StatisticsOutcome::NotCorrect) {
    AddMessage(kTextBadStatistics);
  }
  ui->BtnReqStat->setEnabled(true);
  ui->BtnViewStatistic->setEnabled(outcome == StatisticsOutcome::Ok ||
                                   outcome == StatisticsOutcome::NoPort ||
                                   (outcome == StatisticsOutcome::Refused && viewEnabled));
}

void TMainForm::ResetSoft() {
  BtnResetSoftClick();
  ui->BtnResetSoft->setEnabled(false);  // the Reset handler enables it again
}

int TMainForm::EscrowChoice() const {
  return ItemIndex(*ui->CmbBoxPoll);
}

void TMainForm::BtnDownloadClick() {
  SetControlsEnabled(false, true);
  TProgressBarSteps progress(*ui->ProgBarMain);
  TDownloadProcedure download(
      Link, progress,
      DownloadHost{[this](const QString& line) { AddMessage(line); },
                   [this]() -> std::optional<QString> {
                     if (!OpenDlg.Execute()) return std::nullopt;
                     return OpenDlg.FileName;
                   },
                   [this](const QString& text) { ErrorBox(text); },
                   [this](const QString& text) { dialogs_.Message(this, text); }});
  download.Run(FirmwareImage, HexLoad);
  SetControlsEnabled(true, true);
}

}  // namespace velkor
