#include "Main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>
#include <QSettings>
#include <limits>

#include "Commdrv.h"
#include "UpdateHistory.h"
#include "UpdateSequence.h"
#include "UserDialogs.h"
#include "ui_Main.h"

namespace velkup {

namespace {

const QString kComPort = QStringLiteral("ComPort");
const QString kBaudRate = QStringLiteral("BaudRate");
const QString kBVType = QStringLiteral("BVType");
const QString kFileAddress = QStringLiteral("FileAddress");
const QString kSendEncryption = QStringLiteral("Send Encryption");
const QString kSendBVControl = QStringLiteral("Send BVControl");
const QString kSendValidation = QStringLiteral("Send Validation");

enum class TRead { Missing, Ok, WrongType };

// Stored settings are text on Linux, so the registry's types are checked by content: an integer
// value is of the right type when it is stored as an integer or as text holding nothing but a
// decimal 32-bit integer ("7", "-1"); a string value when it is one string (not a list, not
// binary data). Anything else is "of the wrong type".
TRead ReadInteger(const QSettings& s, const QString& name, int& out) {
  if (!s.contains(name)) return TRead::Missing;
  const QVariant v = s.value(name);
  bool ok = false;
  qlonglong n = 0;
  switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      n = v.toLongLong(&ok);
      break;
    case QMetaType::QString: {
      const QString text = v.toString();
      if (!text.isEmpty() && text.trimmed() == text) n = text.toLongLong(&ok, 10);
      break;
    }
    default:
      break;
  }
  if (!ok || n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())
    return TRead::WrongType;
  out = static_cast<int>(n);
  return TRead::Ok;
}

TRead ReadString(const QSettings& s, const QString& name, QString& out) {
  if (!s.contains(name)) return TRead::Missing;
  const QVariant v = s.value(name);
  if (v.typeId() != QMetaType::QString) return TRead::WrongType;
  out = v.toString();
  return TRead::Ok;
}

QString InvalidType(const QString& name) {
  return QStringLiteral("Invalid data type for '%1'").arg(name);
}

}  // namespace

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
  {
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization,
                kSettingsApplication);
    // The key is created when it is missing.
    const QFileInfo file(s.fileName());
    if (file.isAbsolute() && !file.exists() && QDir().mkpath(file.absolutePath()))
      QFile(file.filePath()).open(QIODevice::WriteOnly);

    // Each value in turn, only when stored; a value of the wrong type is reported and skipped,
    // and the others are still read.
    auto integer = [&](const QString& name, auto apply) {
      int v = 0;
      switch (ReadInteger(s, name, v)) {
        case TRead::Ok:
          apply(v);
          break;
        case TRead::WrongType:
          dialogs_->ShowError(this, InvalidType(name));
          break;
        case TRead::Missing:
          break;
      }
    };
    integer(kComPort, [&](int v) { ui->ComboBoxComPort->setCurrentIndex(v); });
    integer(kBaudRate, [&](int v) { ui->ComboBoxBaudRate->setCurrentIndex(v); });
    integer(kBVType, [&](int v) { ui->ComboBoxBVType->setCurrentIndex(v); });
    QString file_name;
    switch (ReadString(s, kFileAddress, file_name)) {
      case TRead::Ok:
        ui->EditFileName->setText(file_name);
        break;
      case TRead::WrongType:
        dialogs_->ShowError(this, InvalidType(kFileAddress));
        break;
      case TRead::Missing:
        break;
    }
    integer(kSendEncryption, [&](int v) { ui->CheckBoxSendEncryption->setChecked(v != 0); });
    integer(kSendBVControl, [&](int v) { ui->CheckBoxSendBVImage->setChecked(v != 0); });
    integer(kSendValidation, [&](int v) { ui->CheckBoxSendValidation->setChecked(v != 0); });
  }

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
  QSettings s(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization,
              kSettingsApplication);
  if (s.isWritable()) {
    s.setValue(kComPort, ui->ComboBoxComPort->currentIndex());
    s.setValue(kBaudRate, ui->ComboBoxBaudRate->currentIndex());
    s.setValue(kBVType, SelectedBVType());
    s.setValue(kFileAddress, ui->EditFileName->text());
    s.setValue(kSendEncryption, ui->CheckBoxSendEncryption->isChecked() ? 1 : 0);
    s.setValue(kSendBVControl, ui->CheckBoxSendBVImage->isChecked() ? 1 : 0);
    s.setValue(kSendValidation, ui->CheckBoxSendValidation->isChecked() ? 1 : 0);
    s.sync();
  }
  // The values are written together, so a failure is reported for the first of them.
  if (!s.isWritable() || s.status() != QSettings::NoError)
    dialogs_->ShowError(this, QStringLiteral("Failed to set data for '%1'").arg(kComPort));
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
