// Test entry point: a QApplication (offscreen unless told otherwise) around GoogleTest, so
// that windows, timers and serial ports work inside tests, with the font alias of the forms.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The system's fonts plus the project's alias of the forms' font, loaded before the first font
  // is looked up, whether the test runs under CTest or by itself.
  if (qEnvironmentVariableIsEmpty("FONTCONFIG_FILE"))
    qputenv("FONTCONFIG_FILE", ZELNET_FONTCONFIG_FILE);
  // Session logs, the update history and other records of the programs under test stay out of
  // the user's home.
  QTemporaryDir state;
  qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
  QTemporaryDir data;
  qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
