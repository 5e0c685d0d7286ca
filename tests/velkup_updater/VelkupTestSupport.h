// Shared pieces of Velkup's window tests: settings in a temporary folder, and the boxes and the
// file dialog answered by the test.
#pragma once

#include <QFileDialog>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>

#include "Main.h"
#include "Settings.h"
#include "UserDialogs.h"

namespace velkup::test {

// Points the user's settings at a temporary folder for the life of the object, so tests never
// read or write the real configuration.
struct TempSettings {
  QTemporaryDir dir;
  TempSettings() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
  }
  QString FilePath() const { return dir.filePath("Velkup/Configuration.conf"); }
  static QSettings Open() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization,
                     kSettingsApplication);
  }
};

struct ScriptedDialogs : TUserDialogs {
  QStringList errors;
  QString chosenFile;  // empty: cancel
  QStringList filtersSeen;
  QString suffixSeen;
  QString selectedFilterSeen;
  QFileDialog::FileMode fileModeSeen = QFileDialog::AnyFile;
  bool confirmAnswer = true;
  int confirms = 0;
  std::function<void()> onConfirm = [] {};

  QString ExecOpenDialog(QFileDialog& d) override {
    filtersSeen = d.nameFilters();
    suffixSeen = d.defaultSuffix();
    selectedFilterSeen = d.selectedNameFilter();
    fileModeSeen = d.fileMode();
    return chosenFile;
  }
  void ShowError(QWidget*, const QString& text) override { errors << text; }
  bool Confirm(QWidget*, const QString&) override {
    ++confirms;
    onConfirm();
    return confirmAnswer;
  }
};

}  // namespace velkup::test
