#include "Mainunit.h"

#include <cstdio>

#include <QCloseEvent>
#include <QStyle>
#include <QTimer>

#include "HelpWindow.h"
#include "ItemChoice.h"
#include "ProgressBarSteps.h"
#include "StatisticsFill.h"
#include "StatisticsRequest.h"
#include "ui_Mainunit.h"

namespace velkor {

constexpr int kLogLines = 101;

TMainForm::TMainForm(Setup setup, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TMainForm>()),
      ownDialogs_(setup.Dialogs ? nullptr : std::make_unique<QtConsoleDialogs>()),
      dialogs_(setup.Dialogs ? *setup.Dialogs : *ownDialogs_),
      Link(LinkHost{[this](const QString& line) { AddMessage(line); },
                    [this] { return ui->CheckBox1->isChecked(); },
                    [this](const QString& text) { ErrorBox(text); },
                    [this](const QString& text) { NoteOpenProblem(text); }}),
      OpenDlg(dialogs_, this) {
  ui->setupUi(this);
  ui->SpBtnHelp->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
  ui->SpBtnAbout->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
  setWindowIcon(QIcon(ProgramPicture(64)));
  ui->MemoMessage->setMaximumBlockCount(kLogLines);
  AddSessionLogMenu(*ui->MemoMessage, SessionRecord, dialogs_);
  // Which device each COM name of a search meant goes to the session log only: the window's
  // log keeps its own texts.
  Link.SetPortRecord([this](const QString& line) { SessionRecord.Add(line); });
  OpenDlg.Filter = QStringLiteral("HEX-Files(*.hex)|*.hex");
  FirmwareImage.fill(0xFF);
  if (setup.Opener) Link.SetOpener(std::move(setup.Opener));
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
  // Every button but these three starts an exchange, and its click passes the guard first.
  connect(ui->BtnExit, &QPushButton::clicked, this, &TMainForm::BtnExitClick);
  connect(ui->BtnStopPoll, &QPushButton::clicked, this, &TMainForm::BtnStopPollClick);
  connect(ui->BtnViewStatistic, &QPushButton::clicked, this, &TMainForm::BtnViewStatisticClick);
  using F = TMainForm;
  // clang-format off
  exchanges_ = {
      {ui->BtnResetHard, &F::BtnResetHardClick},    {ui->BtnResetSoft, &F::BtnResetSoftClick},
      {ui->BtnGetStatus, &F::BtnGetStatusClick},    {ui->BtnStack, &F::BtnStackClick},
      {ui->BtnIdentification, &F::BtnIdentificationClick}, {ui->BtnHold, &F::BtnHoldClick},
      {ui->BtnGetDescription, &F::BtnGetDescriptionClick}, {ui->Button1, &F::Button1Click},
      {ui->BtnSetParamBarCode, &F::BtnSetParamBarCodeClick}, {ui->Button2, &F::Button2Click},
      {ui->BtnReqBarCode, &F::BtnReqBarCodeClick},  {ui->BtnReturn, &F::BtnReturnClick},
      {ui->BtnEnableBill, &F::BtnEnableBillClick},  {ui->BtnDisableBill, &F::BtnDisableBillClick},
      {ui->BtnSetSecurity, &F::BtnSetSecurityClick}, {ui->BtnReqStat, &F::BtnReqStatClick},
      {ui->BtnDownload, &F::BtnDownloadClick},      {ui->BtnPoll, &F::BtnPollClick},
      {ui->BtnStartPoll, &F::BtnStartPollClick},
  };
  // clang-format on
  for (const auto& [button, handler] : exchanges_) {
    connect(button, &QPushButton::clicked, this, [this, button = button, handler = handler] {
      if (!ClickRefused(button)) (this->*handler)();
    });
  }
}

bool TMainForm::ClickRefused(QPushButton* button) {
  const bool search = button == ui->BtnResetHard || (button == ui->BtnResetSoft && !Link.IsOpen());
  const QString refusal = Link.Refusal(search);
  if (!refusal.isEmpty()) AddMessage(refusal);
  return !refusal.isEmpty();
}

void TMainForm::FormCreate() {
  ui->CmbBoxPoll->setCurrentIndex(0);
  ui->CmbBoxRate->setCurrentIndex(0);
  Link.RecordStatus(0);
  ui->CmbBoxLenghtBarCode->setCurrentIndex(6);
  CloseRequested = 0;
  BtnResetHardClick();
}

// Why a port did not open: in the session record, and once per run on standard error.
void TMainForm::NoteOpenProblem(const QString& text) {
  SessionRecord.Add(text);
  if (notedProblems_.contains(text)) return;
  notedProblems_.insert(text);
  std::fprintf(stderr, "velkor: %s\n", qPrintable(text));
}

void TMainForm::AddMessage(const QString& text) {
  ui->MemoMessage->appendPlainText(text);  // the oldest line goes beyond kLogLines
  SessionRecord.Add(text);
}

void TMainForm::SetControlsEnabled(bool enabled, bool withStopPoll) {
  // The lock covers every button that starts an exchange, Exit, the bit edits and the rate box.
  for (const auto& exchange : exchanges_) exchange.first->setEnabled(enabled);
  ui->BtnExit->setEnabled(enabled);
  for (int group = 1; group <= 3; ++group) {
    for (QLineEdit* edit : BitEdits(group)) edit->setEnabled(enabled);
  }
  ui->CmbBoxRate->setEnabled(enabled);
  if (withStopPoll) ui->BtnStopPoll->setEnabled(enabled);
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

void TMainForm::SpBtnHelpClick() {
  if (!HelpWindow) HelpWindow = new THelpWindow(this);
  dialogs_.ShowWindow(*HelpWindow);
}

int TMainForm::Search(ZelnetLink::Probe probe) {
  ui->ProgBarMain->setRange(0, ZelnetLink::SearchSteps(probe));
  return Link.Search(
      probe, [this] { return BaudForIndex(ItemIndex(*ui->CmbBoxRate)); },
      [this](int n) { ui->ProgBarMain->setValue(n); });
}

void TMainForm::BtnResetHardClick() {
  ui->BtnResetHard->setEnabled(false);
  if (const int found = Search(ZelnetLink::Probe::BusReset)) {
    Show({kSeparator, QStringLiteral("Device has found on COM%1!").arg(found)});
    BtnPollClick();
  } else {
    ErrorBox(kTextBusNotFound);
  }
  ui->ProgBarMain->setValue(0);
  ui->BtnResetHard->setEnabled(true);
}

void TMainForm::BtnResetSoftClick() {
  ui->BtnResetSoft->setEnabled(false);
  if (Link.IsOpen()) {
    Show(Commands.Reset());
  } else if (const int found = Search(ZelnetLink::Probe::Reset)) {
    Show({kSeparator, QStringLiteral("The device is found in COM%1!").arg(found), kTextResetDone});
  } else {
    ErrorBox(kTextResetNotFound);
  }
  ui->ProgBarMain->setValue(0);
  ui->BtnResetSoft->setEnabled(true);
}

void TMainForm::Show(const QStringList& lines) {
  for (const QString& line : lines) AddMessage(line);
}

std::array<QLineEdit*, 3> TMainForm::BitEdits(int group) const {
  if (group == 1) return {ui->EditEnBillByte1, ui->EditEnBillByte2, ui->EditEnBillByte3};
  if (group == 2) return {ui->EditEscBillByte1, ui->EditEscBillByte2, ui->EditEscBillByte3};
  return {ui->EditSecurityByte1, ui->EditSecurityByte2, ui->EditSecurityByte3};
}

bool TMainForm::ReadBitEdits(int group, std::array<uint8_t, 3>& bytes) {
  const std::array<QLineEdit*, 3> edits = BitEdits(group);
  if (ParseBitTexts({edits[0]->text(), edits[1]->text(), edits[2]->text()}, bytes)) return true;
  ErrorBox(kTextIncorrectValue);
  return false;
}

void TMainForm::BtnSetSecurityClick() {
  if (TDeviceCommands::Bits security{}; ReadBitEdits(3, security)) {
    Show(Commands.SetSecurity(security));
  }
}

void TMainForm::BtnEnableBillClick() {
  std::array<uint8_t, 3> enable{};
  std::array<uint8_t, 3> escrow{};
  if (ReadBitEdits(1, enable) && ReadBitEdits(2, escrow))
    Show(Commands.EnableBills(enable, escrow));
}

int TMainForm::ChosenBarcodeLength() const {
  return BarcodeLength(ItemIndex(*ui->CmbBoxLenghtBarCode));
}

void TMainForm::BtnStartPollClick() {
  if (!Link.IsOpen()) return ErrorBox(kTextNoPort);
  if (PollActive) return;  // already polling (reached only by calling the handler directly)
  PollActive = 1;
  SetControlsEnabled(false, false);
  ResetSoft();
  if (TPollCycle(Link, *this).Run(PollActive, CloseRequested) == TPollCycle::End::Closing) {
    // The window is closing: leave without re-enabling the controls, then let it close.
    PollActive = 0;
    QTimer::singleShot(0, this, &QWidget::close);
    return;
  }
  SetControlsEnabled(true, false);
}

void TMainForm::BtnReqStatClick() {
  const bool viewEnabled = ui->BtnViewStatistic->isEnabled();
  ui->BtnReqStat->setEnabled(false);
  ui->BtnViewStatistic->setEnabled(false);
  TStatisticsRequest request(Link);
  const StatisticsOutcome outcome = request.Run();
  if (outcome == StatisticsOutcome::Ok) {
    FillStatisticsTree(*StatisticForm, request.Block().data(), request.Block().size());
  }
  if (const QString line = TStatisticsRequest::OutcomeLine(outcome); !line.isEmpty()) {
    AddMessage(line);
  }
  ui->BtnReqStat->setEnabled(true);
  ui->BtnViewStatistic->setEnabled(TStatisticsRequest::ViewEnabled(outcome, viewEnabled));
}

void TMainForm::ResetSoft() {
  BtnResetSoftClick();
  ui->BtnResetSoft->setEnabled(false);  // the Reset handler enables it again
}

std::optional<QString> TMainForm::ChooseFile() {
  if (!OpenDlg.Execute()) return std::nullopt;
  return OpenDlg.FileName;
}

int TMainForm::EscrowChoice() const {
  return ItemIndex(*ui->CmbBoxPoll);
}

void TMainForm::BtnDownloadClick() {
  SetControlsEnabled(false, true);
  TProgressBarSteps progress(*ui->ProgBarMain);
  TDownloadProcedure(Link, progress, *this).Run(FirmwareImage, HexLoad);
  SetControlsEnabled(true, true);
}

}  // namespace velkor
