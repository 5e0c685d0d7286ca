// The About box: a bevelled frame with a picture, "ZELNET Controller" and "Version 2.15" in blue
// bold type. No buttons; the close box ends it.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <memory>

namespace Ui {
class TDlgAbout;
}

namespace velkor {

// The program's picture (a banknote), drawn at the given size: the About box and the window icon.
QPixmap ProgramPicture(int size);

class TDlgAbout : public QDialog {
  Q_OBJECT

 public:
  explicit TDlgAbout(QWidget* parent = nullptr);
  ~TDlgAbout() override;

 private:
  std::unique_ptr<Ui::TDlgAbout> ui;
};

}  // namespace velkor
