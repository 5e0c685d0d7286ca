#include "DeviceCommands.h"

#include <algorithm>

#include "Frame.h"

namespace velkor {

namespace {

// Request data start at frame byte 4.
constexpr size_t kRequestData = 4;
// The CRC32 answer: sync, address, length, four value bytes, check code.
constexpr size_t kCrc32AnswerSize = 9;
constexpr int kCrc32Ticks = 60;

QString Latin1(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QStringList TDeviceCommands::Confirmed(uint8_t code, int ticks, QStringList lines) {
  Buffer buffer{};
  return Send(code, buffer, ticks) ? lines : QStringList{};
}

bool TDeviceCommands::Send(uint8_t code, Buffer& buffer, int ticks) {
  return link_.SendCommand(code, buffer, ticks) == txOk;
}

QStringList TDeviceCommands::GetStatus() {
  Buffer buffer{};
  if (!Send(kCmdGetStatus, buffer, 50)) return {};
  const auto data = AnswerData(buffer);
  return {kSeparator, QStringLiteral("*********  Bill types enable  ********"),
          Latin1(MaskLine(data, 0)), QStringLiteral("******  Bill types set security  ******"),
          Latin1(MaskLine(data, 3))};
}

QStringList TDeviceCommands::SetSecurity(const Bits& security) {
  Buffer buffer{};
  std::copy(security.begin(), security.end(), buffer.begin() + kRequestData);
  if (!Send(kCmdSetSecurity, buffer, 30)) return {};
  return {kSeparator, QStringLiteral("The Security-command is executed")};
}

QStringList TDeviceCommands::EnableBills(const Bits& enable, const Bits& escrow) {
  if (enable == Bits{}) return {};
  Buffer buffer{};
  std::copy(enable.begin(), enable.end(), buffer.begin() + kRequestData);
  std::copy(escrow.begin(), escrow.end(), buffer.begin() + kRequestData + 3);
  if (!Send(kCmdEnableBillTypes, buffer, 30)) return {};
  return {kSeparator, QStringLiteral("The Enable Bill Types-command is executed")};
}

QStringList TDeviceCommands::DisableBills() {
  // Six 0x00 data bytes: no bill type enabled.
  return Confirmed(kCmdEnableBillTypes, 30,
                   {kSeparator, QStringLiteral("The Disable Bill Types-command is executed")});
}

QStringList TDeviceCommands::Stack() {
  return Confirmed(kCmdStack, 30, {QStringLiteral("The Stack-command is executed")});
}

QStringList TDeviceCommands::Return() {
  return Confirmed(kCmdReturn, 30, {QStringLiteral("The Return-command is executed")});
}

QStringList TDeviceCommands::Reset() {
  return Confirmed(kCmdReset, 50, {kSeparator, kTextResetDone});
}

QStringList TDeviceCommands::Hold() {
  return Confirmed(kCmdHold, 30, {QStringLiteral("The Hold-command is executed")});
}

QStringList TDeviceCommands::Identification() {
  Buffer buffer{};
  if (!Send(kCmdIdentification, buffer, 60)) return {};
  QStringList lines{kSeparator};
  for (const std::string& line : IdentificationLines(AnswerData(buffer))) lines << Latin1(line);
  return lines;
}

QStringList TDeviceCommands::SetupBarcode(int length) {
  Buffer buffer{};
  buffer[kRequestData] = 0x01;
  buffer[kRequestData + 1] = static_cast<uint8_t>(length);
  if (!Send(kCmdSetupBarcode, buffer, 30)) return {};
  return {kSeparator, QStringLiteral("The Setup Barcode-command is executed")};
}

QStringList TDeviceCommands::ExtractBarcode(int length) {
  Buffer buffer{};
  if (!Send(kCmdExtractBarcode, buffer, 60)) return {};
  return {Latin1(BarcodeLine(AnswerData(buffer), length))};
}

QStringList TDeviceCommands::GetBillTable() {
  Buffer buffer{};
  if (!Send(kCmdGetBillTable, buffer, 200)) return {};
  QStringList lines{kSeparator};
  const auto entries = DecodeBillTable(AnswerData(buffer));
  for (size_t k = 0; k < entries.size(); ++k) {
    names_[k] = entries[k].name;
    lines << Latin1(entries[k].line);
  }
  return lines;
}

QStringList TDeviceCommands::Poll() {
  Buffer buffer{};
  if (!Send(kCmdPoll, buffer, 30)) return {};
  const PollAnswer answer = ReadPollAnswer(AnswerData(buffer));
  return StatusLines(answer.status, answer.sub);
}

QStringList TDeviceCommands::Crc32() {
  Buffer buffer{};
  if (!Send(kCmdCrc32, buffer, kCrc32Ticks)) return {};
  if (AnswerFrameLength(buffer) < kCrc32AnswerSize) {
    return {kSeparator, QStringLiteral("The answer holds no CRC32 value!")};
  }
  return {kSeparator, QString::fromStdString(Crc32Line(buffer))};
}

QStringList TDeviceCommands::StatusLines(uint8_t status, uint8_t sub) const {
  if (const auto line = StatusText(status, sub, names_)) return {Latin1(*line)};
  return {};
}

}  // namespace velkor
