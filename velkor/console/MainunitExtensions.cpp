// Handlers of the statistics and firmware-download controls: Request Statistics, View
// Statistics, Download and CRC32. They read the window, run the plain statistics decoder and the
// download procedure (velkor/statistics, velkor/download), and write the outcome back.
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <string>
#include <vector>

#include "DownloadFrames.h"
#include "FirmwareDownload.h"
#include "HexFile.h"
#include "Mainunit.h"
#include "ProgressBarSteps.h"
#include "StatDecode.h"
#include "Statformunit.h"
#include "StatisticsFill.h"
#include "ui_Mainunit.h"

namespace velkor {

namespace {

// Shown when the answer to the CRC32 command is too short to hold the four bytes of the value.
const QString kTextCrc32Missing = QStringLiteral("The answer holds no CRC32 value!");
// The CRC32 answer: sync, address, length, four value bytes, check code.
constexpr size_t kCrc32AnswerSize = 9;

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The length of the complete answer in `buffer`: byte 2, or the extended length in bytes 3-4.
size_t AnswerLength(std::span<const uint8_t> buffer) {
  if (buffer.size() < 5) return 0;
  const size_t length = buffer[2] != 0 ? buffer[2] : size_t{buffer[3]} * 256 + buffer[4];
  return std::min(length, buffer.size());
}

// Reads the whole file, but never more than one byte beyond the largest HEX file taken, so a
// huge file is refused by the checking pass without being held in memory. False when the file
// cannot be opened or read.
bool ReadFirmwareFile(const QString& path, std::string& contents) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  constexpr qint64 kChunk = 64 * 1024;
  const qint64 limit = static_cast<qint64>(kMaxHexFileSize) + 1;
  contents.clear();
  while (static_cast<qint64>(contents.size()) < limit) {
    const qint64 want = std::min(kChunk, limit - static_cast<qint64>(contents.size()));
    const size_t at = contents.size();
    contents.resize(at + static_cast<size_t>(want));
    const qint64 got = file.read(contents.data() + at, want);
    if (got < 0) return false;
    contents.resize(at + static_cast<size_t>(got));
    if (got == 0) break;
  }
  return true;
}

// Steps 2 to 14 of the download: everything between locking and unlocking the controls.
void RunDownload(TMainForm& form) {
  std::array<uint8_t, kDownloadRequestBufferSize> buffer{};
  if (form.SendCommand(kDownloadCommand, buffer, kDownloadCommandTicks) != txOk) return;
  form.AddMessage(kSeparator);
  form.AddMessage(Text(kTextDownloadExecuted));
  form.Delay(kDownloadModeDelayMs);

  TProgressBarSteps progress(*form.ui->ProgBarMain);
  TFirmwareDownload download(form.SerialPort, form.PortHandle, progress,
                             [&form](std::string_view line) { form.AddMessage(Text(line)); });
  if (!download.Start()) {
    form.AddMessage(Text(kTextDownloadModeError));
    return;
  }
  form.AddMessage(Text(kTextDownloadMode));

  // A cancelled dialog sends nothing more.
  if (!form.OpenDlg.Execute()) return;
  const QString path = form.OpenDlg.FileName;
  std::string contents;
  if (!ReadFirmwareFile(path, contents)) {
    form.ErrorBox(QStringLiteral("Cannot open file %1").arg(QDir::toNativeSeparators(path)));
    return;
  }
  if (!IsHexFileName(path.toStdString())) {
    form.Dialogs().Message(&form, Text(kTextNotHexFile));
    return;
  }
  std::string detail;
  if (!CheckHexFile(contents, progress, &detail)) {
    form.AddMessage(Text(DownloadResultLine(dlHexError)));
    if (!detail.empty()) form.AddMessage(Text(detail));
    return;
  }
  form.AddMessage(Text(kTextHexFileOk));

  const DownloadResult result = download.LoadAndProgram(contents, form.FirmwareImage, form.HexLoad);
  progress.SetPosition(0);
  form.AddMessage(Text(DownloadResultLine(result)));
  if (result == dlHexError && !download.HexErrorDetail().empty()) {
    form.AddMessage(Text(download.HexErrorDetail()));
  }
}

}  // namespace

void TMainForm::BtnReqStatClick() {
  ui->BtnReqStat->setEnabled(false);
  ui->BtnViewStatistic->setEnabled(false);
  std::vector<uint8_t> answer(kStatisticsBufferSize, 0);
  const int result = SendCommand(kStatisticsCommand, answer, kStatisticsTicks);
  if (result == txNoPort) {
    ui->BtnReqStat->setEnabled(true);
    ui->BtnViewStatistic->setEnabled(true);
    return;
  }
  if (result == txBadStatistics) {
    ui->BtnReqStat->setEnabled(true);
    return;
  }
  // Only a good answer is decoded: after a time-out, a wrong check code or a refusal the buffer
  // holds no block, whatever its byte 9 happens to be.
  if (result != txOk || !IsStatisticsBlockValid(answer)) {
    std::vector<uint8_t> reject(kAnswerBufferSize, 0);
    SendCommand(kStatisticsRejectCommand, reject, kStatisticsRejectTicks);
    AddMessage(Text(kTextStatisticsNotCorrect));
    ui->BtnReqStat->setEnabled(true);
    return;
  }
  FillStatisticsTree(*StatisticForm, answer.data(), AnswerLength(answer));
  ui->BtnReqStat->setEnabled(true);
  ui->BtnViewStatistic->setEnabled(true);
  AddMessage(Text(kTextStatisticsExecuted));
}

void TMainForm::BtnViewStatisticClick() {
  Dialogs().ShowModal(*StatisticForm);
}

void TMainForm::BtnDownloadClick() {
  SetControlsEnabled(false, true);
  RunDownload(*this);
  SetControlsEnabled(true, true);
}

void TMainForm::Button1Click() {
  std::array<uint8_t, kAnswerBufferSize> answer{};
  if (SendCommand(kCrc32Command, answer, kCrc32Ticks) != txOk) return;
  AddMessage(kSeparator);
  if (AnswerLength(answer) < kCrc32AnswerSize) {
    AddMessage(kTextCrc32Missing);
    return;
  }
  AddMessage(Text(Crc32Line(answer)));
}

}  // namespace velkor
