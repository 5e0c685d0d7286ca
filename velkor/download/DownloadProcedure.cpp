#include "DownloadProcedure.h"

#include <QDir>
#include <QFile>
#include <array>

namespace velkor {

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

void TDownloadProcedure::Log(std::string_view line) {
  host_.AddMessage(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
}

void TDownloadProcedure::Run(FirmwareImageBytes& image, HexLoadState& state) {
  std::array<uint8_t, kDownloadRequestBufferSize> buffer{};
  if (link_.SendCommand(kCmdDownload, buffer, kDownloadCommandTicks) != txOk) return;
  host_.AddMessage(kSeparator);
  Log(kTextDownloadExecuted);
  link_.Delay(kDownloadModeDelayMs);

  TFirmwareDownload download(link_, progress_, [this](std::string_view line) { Log(line); });
  if (!download.Start()) {
    Log(kTextDownloadModeError);
    return;
  }
  Log(kTextDownloadMode);

  // A cancelled dialog sends nothing more.
  const std::optional<QString> path = host_.ChooseFile();
  if (!path) return;
  std::string contents;
  if (!ReadFirmwareFile(*path, contents)) {
    host_.ErrorBox(QStringLiteral("Cannot open file %1").arg(QDir::toNativeSeparators(*path)));
    return;
  }
  if (!IsHexFileName(path->toStdString())) {
    host_.Message(QString::fromUtf8(kTextNotHexFile.data(), kTextNotHexFile.size()));
    return;
  }
  std::string detail;
  if (!CheckHexFile(contents, progress_, &detail)) {
    Log(DownloadResultLine(dlHexError));
    if (!detail.empty()) Log(detail);
    return;
  }
  Log(kTextHexFileOk);

  const DownloadResult result = download.LoadAndProgram(contents, image, state);
  progress_.SetPosition(0);
  Log(DownloadResultLine(result));
  if (result == dlHexError && !download.HexErrorDetail().empty()) Log(download.HexErrorDetail());
}

}  // namespace velkor
