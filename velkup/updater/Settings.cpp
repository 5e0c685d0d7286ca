#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <limits>

namespace velkup {

namespace {

const QString kComPort = QStringLiteral("ComPort");
const QString kBaudRate = QStringLiteral("BaudRate");
const QString kBVType = QStringLiteral("BVType");
const QString kFileAddress = QStringLiteral("FileAddress");
const QString kSendEncryption = QStringLiteral("Send Encryption");
const QString kSendBVControl = QStringLiteral("Send BVControl");
const QString kSendValidation = QStringLiteral("Send Validation");

QSettings Open() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization,
                   kSettingsApplication);
}

QString InvalidType(const QString& name) {
  return QStringLiteral("Invalid data type for '%1'").arg(name);
}

std::optional<int> ReadInteger(const QSettings& s, const QString& name, QStringList& errors) {
  if (!s.contains(name)) return std::nullopt;
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
  if (!ok || n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max()) {
    errors << InvalidType(name);
    return std::nullopt;
  }
  return static_cast<int>(n);
}

std::optional<QString> ReadString(const QSettings& s, const QString& name, QStringList& errors) {
  if (!s.contains(name)) return std::nullopt;
  const QVariant v = s.value(name);
  if (v.typeId() != QMetaType::QString) {
    errors << InvalidType(name);
    return std::nullopt;
  }
  return v.toString();
}

std::optional<bool> ReadFlag(const QSettings& s, const QString& name, QStringList& errors) {
  const std::optional<int> n = ReadInteger(s, name, errors);
  return n ? std::optional(*n != 0) : std::nullopt;
}

}  // namespace

TUpdaterChoices TUpdaterSettings::Read(QStringList& errors) {
  const QSettings s = Open();
  const QFileInfo file(s.fileName());
  if (file.isAbsolute() && !file.exists() && QDir().mkpath(file.absolutePath()))
    QFile(file.filePath()).open(QIODevice::WriteOnly);
  TUpdaterChoices c;
  c.comPort = ReadInteger(s, kComPort, errors);
  c.baudRate = ReadInteger(s, kBaudRate, errors);
  c.bvType = ReadInteger(s, kBVType, errors);
  c.fileAddress = ReadString(s, kFileAddress, errors);
  c.sendEncryption = ReadFlag(s, kSendEncryption, errors);
  c.sendBVControl = ReadFlag(s, kSendBVControl, errors);
  c.sendValidation = ReadFlag(s, kSendValidation, errors);
  return c;
}

bool TUpdaterSettings::Write(const TUpdaterChoices& c, QString& error) {
  QSettings s = Open();
  if (s.isWritable()) {
    auto put = [&](const QString& name, const auto& value) {
      if (value) s.setValue(name, *value);
    };
    auto flag = [&](const QString& name, const std::optional<bool>& value) {
      if (value) s.setValue(name, *value ? 1 : 0);
    };
    put(kComPort, c.comPort);
    put(kBaudRate, c.baudRate);
    put(kBVType, c.bvType);
    put(kFileAddress, c.fileAddress);
    flag(kSendEncryption, c.sendEncryption);
    flag(kSendBVControl, c.sendBVControl);
    flag(kSendValidation, c.sendValidation);
    s.sync();
  }
  if (!s.isWritable() || s.status() != QSettings::NoError) {
    error = QStringLiteral("Failed to set data for '%1'").arg(kComPort);
    return false;
  }
  return true;
}

}  // namespace velkup
