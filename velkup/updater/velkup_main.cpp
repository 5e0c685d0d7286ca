// Velkup, the firmware updater: one window, run until it is closed.
#include <QApplication>

#include "Main.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  velkup::TForm1 form;
  form.show();
  return app.exec();
}
