// Velkor's modal boxes, dialogs and secondary windows, behind one small interface so that tests
// answer them without blocking. QtConsoleDialogs is the real thing.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace velkor {

class ConsoleDialogs {
 public:
  virtual ~ConsoleDialogs() = default;

  // Modal error box: error icon, the text, one Yes button.
  virtual void ErrorBox(QWidget* parent, const QString& text) = 0;
  // Modal plain message with an OK button ("ERROR" of the download).
  virtual void Message(QWidget* parent, const QString& text) = 0;
  // Modal warning box with OK and Cancel; true only when OK was chosen.
  virtual bool ConfirmClose(QWidget* parent, const QString& text) = 0;
  // Shows a secondary window modally (About box, statistics window) until the operator closes it.
  virtual void ShowModal(QDialog& dialog) = 0;
  // Shows a non-modal window (the help window) and brings it to the front.
  virtual void ShowWindow(QWidget& window) = 0;
  // File-open dialog with a filter in the form "Description(*.ext)|*.ext"; the chosen path, or
  // an empty text when the operator cancelled.
  virtual QString OpenFile(QWidget* parent, const QString& filter) = 0;
  // File-save dialog (same filter form) that proposes `suggestedName` and asks before replacing
  // a file; the chosen path, or an empty text when cancelled.
  virtual QString SaveFile(QWidget* parent, const QString& filter, const QString& suggestedName);
  // Shows a folder in the desktop's file manager.
  virtual void OpenFolder(const QString& path);
};

class QtConsoleDialogs final : public ConsoleDialogs {
 public:
  void ErrorBox(QWidget* parent, const QString& text) override;
  void Message(QWidget* parent, const QString& text) override;
  bool ConfirmClose(QWidget* parent, const QString& text) override;
  void ShowModal(QDialog& dialog) override;
  void ShowWindow(QWidget& window) override;
  QString OpenFile(QWidget* parent, const QString& filter) override;
};

// A filter "Description(*.ext)|*.ext|Other(*.x)|*.x" in the file dialog's own form
// "Description(*.ext);;Other(*.x)". Pairs are taken as description and pattern list.
QString QtFileFilter(const QString& filter);

// The file-open dialog of a window: a filter, the last chosen file, and Execute.
class TOpenDialog {
 public:
  TOpenDialog(ConsoleDialogs& dialogs, QWidget* parent) : dialogs_(dialogs), parent_(parent) {}

  QString Filter;
  QString FileName;

  // Asks for a file; true with FileName set when one was chosen, false when cancelled.
  bool Execute();

 private:
  ConsoleDialogs& dialogs_;
  QWidget* parent_;
};

}  // namespace velkor
