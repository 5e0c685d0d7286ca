// TForm1: Velkup's one window. It lets the operator choose the image file, the validator family,
// the images, the port and the baud rate, runs the update on Start and remembers the choices
// between runs. The update itself is TUpdateSequence; the window only reads its controls and
// shows what the sequence reports.
#pragma once

#include <QString>
#include <QWidget>
#include <memory>

#include "UpdateHistory.h"

class QFileDialog;
namespace Ui {
class TForm1;
}

namespace velkup {

class TCommDrv;
class TUpdateSequence;
class TUserDialogs;

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // dialogs answers the boxes and the file dialog; null uses the real ones.
  explicit TForm1(TUserDialogs* dialogs = nullptr, QWidget* parent = nullptr);
  ~TForm1() override;

 signals:
  // Every text the status label is given, in order.
  void StatusChanged(const QString& text);

 public slots:
  void ButtonOpenFileClick();
  void ButtonStartClick();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormClose();
  // The BV Type box is editable: its text selects the entry it equals, or none.
  int SelectedBVType() const;

  std::unique_ptr<Ui::TForm1> ui;
  std::unique_ptr<TUserDialogs> ownDialogs_;
  TUserDialogs* dialogs_;
  QFileDialog* OpenDialog_ = nullptr;
  TCommDrv* CommDrv1 = nullptr;
  std::unique_ptr<TUpdateSequence> sequence_;
  bool closeAfterRun_ = false;
  TUpdateHistory history_;
};

}  // namespace velkup
