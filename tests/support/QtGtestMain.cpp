// Test entry point: a QApplication (offscreen unless told otherwise) around GoogleTest, so
// that windows, timers and serial ports work inside tests, with the font alias of the forms, and
// with the programs' records and the port library's view of the machine kept apart from it.
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
  // Ports: no user map of the person running the tests, and the port library reads the system
  // map, /dev/serial and /sys below an empty folder, so neither /etc/zelnet/ports.conf nor the
  // machine's own adapters can name a COM port that a test expects unset. Programs the tests
  // start inherit both.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QTemporaryDir portsRoot;
  qputenv("ZELNET_PORTS_ROOT", portsRoot.path().toLocal8Bit());
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
