// The updater's modal boxes and its file dialog, behind one seam so that tests can answer them
// without blocking.
#pragma once

#include <QString>

class QFileDialog;
class QWidget;

namespace velkup {

class TUserDialogs {
 public:
  virtual ~TUserDialogs() = default;
  // Shows the file dialog; returns the chosen file's full path, or an empty string on cancel.
  virtual QString ExecOpenDialog(QFileDialog& dialog);
  // The standard error box: error icon and one OK button.
  virtual void ShowError(QWidget* parent, const QString& text);
  // A question with Yes and No; true for Yes.
  virtual bool Confirm(QWidget* parent, const QString& text);
};

}  // namespace velkup
