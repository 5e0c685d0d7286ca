#include "UserDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace velkup {

QString TUserDialogs::ExecOpenDialog(QFileDialog& dialog) {
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void TUserDialogs::ShowError(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QStringLiteral("Velkup"), text);
}

bool TUserDialogs::Confirm(QWidget* parent, const QString& text) {
  return QMessageBox::question(parent, QStringLiteral("Velkup"), text,
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace velkup
