#include "ConsoleDialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>
#include <QUrl>
#include <QWidget>

namespace velkor {

void QtConsoleDialogs::ErrorBox(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Yes, parent);
  box.exec();
}

void QtConsoleDialogs::Message(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                  parent);
  box.exec();
}

bool QtConsoleDialogs::ConfirmClose(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text,
                  QMessageBox::Ok | QMessageBox::Cancel, parent);
  box.setEscapeButton(QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok;
}

void QtConsoleDialogs::ShowModal(QDialog& dialog) {
  dialog.exec();
}

void QtConsoleDialogs::ShowWindow(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}

QString QtConsoleDialogs::OpenFile(QWidget* parent, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), QString(),
                                      QtFileFilter(filter));
}

QString ConsoleDialogs::SaveFile(QWidget* parent, const QString& filter,
                                 const QString& suggestedName) {
  return QFileDialog::getSaveFileName(parent, QStringLiteral("Save As"),
                                      QDir::home().filePath(suggestedName), QtFileFilter(filter));
}

void ConsoleDialogs::OpenFolder(const QString& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString QtFileFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    // The dialog reads the patterns from the last parentheses of the description.
    if (!description.contains(QLatin1Char('('))) description += " (" + patterns + ")";
    filters << description;
  }
  if (filters.isEmpty() && !filter.isEmpty()) filters << filter;
  return filters.join(QStringLiteral(";;"));
}

bool TOpenDialog::Execute() {
  const QString chosen = dialogs_.OpenFile(parent_, Filter);
  if (chosen.isEmpty()) return false;
  FileName = chosen;
  return true;
}

}  // namespace velkor
