// Velkor, the bench controller for the bill validator: one main window that finds the validator
// at start-up and drives it.
#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <exception>

#include "Mainunit.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velkor"));
  try {
    // The constructor runs the start-up search to its end before the window is shown.
    velkor::TMainForm mainForm;
    if (QScreen* screen = mainForm.screen()) {
      mainForm.move(screen->availableGeometry().center() - mainForm.rect().center());
    }
    mainForm.show();
    return app.exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("Velkor"), QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
