#include "Main.h"

#include <cstdio>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>

#include "Commdrv.h"
#include "Settings.h"
#include "UpdateHistory.h"
#include "UpdateSequence.h"
#include "UserDialogs.h"
#include "ui_Main.h"

namespace velkup {

TForm1::TForm1(TUserDialogs* dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TForm1>()),
      ownDialogs_(dialogs ? nullptr : std::make_unique<TUserDialogs>()),
      dialogs_(dialogs ? dialogs : ownDialogs_.get()) {
  ui->setupUi(this);
  setFixedSize(529, 233);
  if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());

  OpenDialog_ = new QFileDialog(this);
  OpenDialog_->setObjectName(QStringLiteral("OpenDialog"));
  OpenDialog_->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog_->setFileMode(QFileDialog::ExistingFile);
  OpenDialog_->setNameFilters(
      {QStringLiteral("VKF - Files (*.vkf)"), QStringLiteral("HEX - Files (*.hex)")});
  OpenDialog_->selectNameFilter(OpenDialog_->nameFilters().constFirst());
  OpenDialog_->setDefaultSuffix(QStringLiteral("vkf"));

  connect(ui->ButtonOpenFile, &QPushButton::clicked, this, &TForm1::ButtonOpenFileClick);
  connect(ui->ButtonStart, &QPushButton::clicked, this, &TForm1::ButtonStartClick);
  FormCreate();
}

TForm1::~TForm1() = default;

int TForm1::SelectedBVType() const {
  return ui->ComboBoxBVType->findText(ui->ComboBoxBVType->currentText(), Qt::MatchExactly);
}

void TForm1::FormCreate() {
  // Each stored value in turn; one of the wrong type is reported and the others still apply.
  QStringList errors;
  const TUpdaterChoices c = TUpdaterSettings::Read(errors);
  for (const QString& e : errors) dialogs_->ShowError(this, e);
  if (c.comPort) ui->ComboBoxComPort->setCurrentIndex(*c.comPort);
  if (c.baudRate) ui->ComboBoxBaudRate->setCurrentIndex(*c.baudRate);
  if (c.bvType) ui->ComboBoxBVType->setCurrentIndex(*c.bvType);
  if (c.fileAddress) ui->EditFileName->setText(*c.fileAddress);
  if (c.sendEncryption) ui->CheckBoxSendEncryption->setChecked(*c.sendEncryption);
  if (c.sendBVControl) ui->CheckBoxSendBVImage->setChecked(*c.sendBVControl);
  if (c.sendValidation) ui->CheckBoxSendValidation->setChecked(*c.sendValidation);

  CommDrv1 = new TCommDrv(this);
  CommDrv1->setObjectName(QStringLiteral("CommDrv1"));
  CommDrv1->SetPollingDelay(500);

  TUpdateSequence::TView view;
  view.SetStatus = [this](const QString& text) {
    ui->LabelStatus->setText(text);
    emit StatusChanged(text);
  };
  view.SetStartEnabled = [this](bool on) { ui->ButtonStart->setEnabled(on); };
  view.BVTypeIndex = [this] { return SelectedBVType(); };
  view.ImageChecked = [this](TImage image) {
    switch (image) {
      case TImage::Encryption:
        return ui->CheckBoxSendEncryption->isChecked();
      case TImage::BVControl:
        return ui->CheckBoxSendBVImage->isChecked();
      case TImage::Validation:
        return ui->CheckBoxSendValidation->isChecked();
    }
    return false;
  };
  view.ProcessEvents = [] { QCoreApplication::processEvents(); };
  view.ShowError = [this](const QString& text) { dialogs_->ShowError(this, text); };
  sequence_ = std::make_unique<TUpdateSequence>(*CommDrv1, std::move(view));

  ui->LabelStatus->setText(QStringLiteral("Ready"));
}

void TForm1::FormClose() {
  TUpdaterChoices c;
  c.comPort = ui->ComboBoxComPort->currentIndex();
  c.baudRate = ui->ComboBoxBaudRate->currentIndex();
  c.bvType = SelectedBVType();
  c.fileAddress = ui->EditFileName->text();
  c.sendEncryption = ui->CheckBoxSendEncryption->isChecked();
  c.sendBVControl = ui->CheckBoxSendBVImage->isChecked();
  c.sendValidation = ui->CheckBoxSendValidation->isChecked();
  QString error;
  if (!TUpdaterSettings::Write(c, error)) dialogs_->ShowError(this, error);
  CommDrv1->Disconnect();
}

void TForm1::ButtonOpenFileClick() {
  const QString chosen = dialogs_->ExecOpenDialog(*OpenDialog_);
  if (!chosen.isEmpty()) ui->EditFileName->setText(QFileInfo(chosen).absoluteFilePath());
}

void TForm1::ButtonStartClick() {
  if (sequence_->Running()) return;
  TUpdateOptions options;
  options.comPortIndex = ui->ComboBoxComPort->currentIndex();
  options.baudRateIndex = ui->ComboBoxBaudRate->currentIndex();
  options.fileName = ui->EditFileName->text();
  const QDateTime started = QDateTime::currentDateTime();
  sequence_->Run(options);
  // Every run that reached the line is recorded; a history that cannot be written says so on
  // standard error and nothing more.
  const TRunReport& report = sequence_->LastReport();
  // Why the port did not open (a TLS refusal, a server that does not answer), once per run.
  QStringList problems;
  for (const TImageReport& r : report.images)
    if (!r.problem.isEmpty() && !problems.contains(r.problem)) problems << r.problem;
  for (const QString& p : problems) std::fprintf(stderr, "velkup: %s\n", qPrintable(p));
  if (report.sentAnything)
    history_.Record(
        {{started, QStringLiteral("velkup"), report.portName, options.fileName, report}});
  if (closeAfterRun_) close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (sequence_->Running()) {
    // Closing in the middle of an update asks first; the update then stops after the block in
    // flight and the window closes when it has.
    event->ignore();
    if (!closeAfterRun_ &&
        dialogs_->Confirm(this, QStringLiteral("An update is running. Stop it after the current "
                                               "block and close Velkup?"))) {
      closeAfterRun_ = true;
      sequence_->RequestStop();
    }
    return;
  }
  FormClose();
  event->accept();
}

}  // namespace velkup
