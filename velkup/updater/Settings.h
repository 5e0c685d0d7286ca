// Velkup's remembered choices, read when the window is created and written when it closes:
// QSettings(NativeFormat, UserScope, "Velkup", "Configuration"), that is
// $XDG_CONFIG_HOME/Velkup/Configuration.conf on Linux. Plain Qt Core; the window reads its
// controls into TUpdaterChoices and sets them from it.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace velkup {

inline constexpr const char* kSettingsOrganization = "Velkup";
inline constexpr const char* kSettingsApplication = "Configuration";

// One value per setting, in the order they are read and written. Empty: not stored, or stored
// with the wrong type.
struct TUpdaterChoices {
  std::optional<int> comPort;          // "ComPort": index of the selected entry, -1 for none
  std::optional<int> baudRate;         // "BaudRate"
  std::optional<int> bvType;           // "BVType"
  std::optional<QString> fileAddress;  // "FileAddress"
  std::optional<bool> sendEncryption;  // "Send Encryption", stored as 1 or 0
  std::optional<bool> sendBVControl;   // "Send BVControl"
  std::optional<bool> sendValidation;  // "Send Validation"
};

class TUpdaterSettings {
 public:
  // Reads every stored value, creating the (empty) configuration when it is missing. Stored
  // settings are text on Linux, so the types are checked by content: an integer value is of the
  // right type when it is stored as an integer or as text holding nothing but a decimal 32-bit
  // integer ("7", "-1"); a string value when it is one string (not a list, not binary data). A
  // value of the wrong type stays empty, its message ("Invalid data type for 'NAME'") is added
  // to errors, and the other values are still read.
  static TUpdaterChoices Read(QStringList& errors);
  // Writes every value that is set. On failure returns false with the message ("Failed to set
  // data for 'ComPort'": the values are written together, so the first of them is named).
  static bool Write(const TUpdaterChoices& choices, QString& error);
};

}  // namespace velkup
