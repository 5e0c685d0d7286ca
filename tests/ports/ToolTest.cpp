// zelnet-ports as a user runs it: against a temporary XDG_CONFIG_HOME and a fake device tree,
// its table and exit status, the adapters, edits of the user's and the system's map, and the
// diagnosis of a port an unprivileged user may not open.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "FakeMachine.h"
#include "PtyPeer.h"

namespace {

using zelnet::test::FakeMachine;

struct ToolRun {
  int exitCode = -1;
  QString out;
  QString err;
  QJsonObject Json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

class Tool : public ::testing::Test {
 protected:
  Tool() {
    QFile::setPermissions(config.path(),
                          QFile::permissions(config.path()) | QFile::ReadOther | QFile::ExeOther);
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("ZELNET_PORTS_ROOT", machine.Root());
    for (int n = 1; n <= 8; ++n) env.remove(QStringLiteral("ZELNET_COM%1").arg(n));
  }

  ToolRun Start(const QStringList& args, const QString& program = ZELNET_PORTS_TOOL,
                const QStringList& before = {}) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, before + args);
    ToolRun run;
    if (!process.waitForStarted(30000) || !process.waitForFinished(60000)) {
      ADD_FAILURE() << "zelnet-ports did not run: " << process.errorString().toStdString();
      process.kill();
      process.waitForFinished();
      return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
  }

  QString UserMap() const { return config.filePath("zelnet/ports.conf"); }
  void WriteUserMap(const QByteArray& contents) {
    QDir().mkpath(config.filePath("zelnet"));
    QFile file(UserMap());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
  }
  QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
  }

  FakeMachine machine;
  QTemporaryDir config;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
};

TEST_F(Tool, TheTableGivesTargetSourceAndStateAndTheExitStatusSaysWhetherAllAreUsable) {
  zelnet::test::PtyPeer fromEnv, fromSystemMap;
  env.insert("ZELNET_COM1", QString::fromStdString(fromEnv.SlavePath()));
  WriteUserMap("# bench\nCOM2 = /dev/serial/by-id/usb-unplugged-if00-port0\nCOM6 = \n");
  machine.WriteSystemMap(QByteArray("COM2 = /dev/ttyS7\nCOM3 = ") +
                         fromSystemMap.SlavePath().c_str() + "\nCOM5 = rfc2217://127.0.0.1:1\n");

  const ToolRun table = Start({});
  EXPECT_EQ(table.exitCode, 1) << table.err.toStdString();  // COM2 is missing
  const QStringList lines = table.out.split('\n');
  ASSERT_GE(lines.size(), 10) << table.out.toStdString();
  EXPECT_TRUE(lines[0].startsWith("PORT  TARGET")) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].contains(QString::fromStdString(fromEnv.SlavePath())));
  EXPECT_TRUE(lines[1].contains("environment"));
  EXPECT_TRUE(lines[1].endsWith("present")) << lines[1].toStdString();
  EXPECT_TRUE(lines[2].contains("user map"));
  EXPECT_TRUE(lines[2].endsWith("missing"));
  EXPECT_TRUE(lines[3].contains("system map"));
  EXPECT_TRUE(lines[4].contains("-  ") && lines[4].endsWith("unassigned"))
      << lines[4].toStdString();
  // A network target is opened as the programs would: nothing listens on port 1.
  EXPECT_TRUE(lines[5].endsWith("unreachable")) << lines[5].toStdString();
  EXPECT_TRUE(table.out.contains("COM5: unreachable")) << table.out.toStdString();
  EXPECT_TRUE(table.out.contains("COM2: missing")) << table.out.toStdString();
  // The malformed line of the user map is named on standard error, file and line.
  EXPECT_TRUE(table.err.contains(UserMap() + ":3: COM6 has no target")) << table.err.toStdString();

  const QJsonArray ports = Start({"--json"}).Json()["ports"].toArray();
  ASSERT_EQ(ports.size(), 8);
  EXPECT_EQ(ports[1]["source"].toString(), "user map");
  EXPECT_EQ(ports[1]["file"].toString(), UserMap());
  EXPECT_EQ(ports[1]["line"].toInt(), 2);
  EXPECT_EQ(ports[2]["state"].toString(), "present");
  EXPECT_TRUE(ports[3]["target"].isNull());
  EXPECT_EQ(ports[3]["source"].toString(), "automatic");

  // Once every named port can be opened, the status is 0.
  machine.WriteSystemMap(QByteArray("COM3 = ") + fromSystemMap.SlavePath().c_str() + "\n");
  WriteUserMap("COM2 = " + QByteArray::fromStdString(fromEnv.SlavePath()) + "\n");
  EXPECT_EQ(Start({}).exitCode, 0);

  // Bad usage is 2, with nothing changed.
  for (const QStringList& bad :
       {QStringList{"bogus"}, QStringList{"set", "COM9", "/dev/ttyUSB0"},
        QStringList{"set", "COM1"}, QStringList{"unset"},
        QStringList{"--json", "set", "COM1", "/dev/ttyUSB0"}, QStringList{"--system", "adapters"},
        QStringList{"--frobnicate"}, QStringList{"set", "COM1", "tcp://no-port"}}) {
    const ToolRun run = Start(bad);
    EXPECT_EQ(run.exitCode, 2) << bad.join(' ').toStdString();
    EXPECT_FALSE(run.err.isEmpty()) << bad.join(' ').toStdString();
  }
}

TEST_F(Tool, SetAndUnsetEditTheUserMapAndKeepItsComments) {
  machine.AddUsb("ttyUSB0", "2", "A10K4Z3B");
  machine.AddUsb("ttyUSB1", "3", "");
  WriteUserMap("# validators of bench 3\nCOM1 = /dev/ttyUSB5  # old adapter\nCOM4 = /dev/ttyS3\n");

  // An adapter by its kernel name: by-id with a serial number, by-path without.
  ToolRun run = Start({"set", "com1", "ttyUSB0"});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  EXPECT_TRUE(
      run.out.startsWith("COM1 = /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K4Z3B-if00-port0"))
      << run.out.toStdString();
  EXPECT_EQ(Start({"set", "COM3", "ttyUSB1"}).exitCode, 0);
  EXPECT_EQ(Start({"set", "COM5", "rfc2217://bench-pi:3001"}).exitCode, 0);
  EXPECT_EQ(Start({"unset", "COM4"}).exitCode, 0);
  EXPECT_EQ(Start({"unset", "COM4"}).exitCode, 0);  // nothing left to remove: no error
  EXPECT_EQ(ReadFile(UserMap()),
            "# validators of bench 3\n"
            "COM1 = /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K4Z3B-if00-port0  # old adapter\n"
            "COM3 = /dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0\n"
            "COM5 = rfc2217://bench-pi:3001\n");

  // An adapter that is not there: an error, the map unchanged.
  run = Start({"set", "COM2", "ttyUSB7"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(run.err.contains("no adapter ttyUSB7")) << run.err.toStdString();

  // The adapters, each with its names and the COM name that reaches it now.
  const QJsonArray adapters = Start({"adapters", "--json"}).Json()["adapters"].toArray();
  ASSERT_EQ(adapters.size(), 2);
  EXPECT_EQ(adapters[0]["kernel_name"].toString(), "ttyUSB0");
  EXPECT_EQ(adapters[0]["vid_pid"].toString(), "0403:6001");
  EXPECT_EQ(adapters[0]["serial_number"].toString(), "A10K4Z3B");
  EXPECT_EQ(adapters[0]["manufacturer"].toString(), "FTDI");
  EXPECT_EQ(adapters[0]["description"].toString(), "FT232R USB UART");
  EXPECT_EQ(adapters[0]["by_path"].toString(),
            "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
  EXPECT_EQ(adapters[0]["com"].toArray().at(0).toString(), "COM1 (user map)");
  EXPECT_TRUE(adapters[1]["serial_number"].isNull());
  const ToolRun text = Start({"adapters"});
  EXPECT_TRUE(text.out.contains(
      "by-id:         /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K4Z3B-if00-port0"))
      << text.out.toStdString();

  // The system map, under the tree's root, here writable (the tests may run as root).
  if (geteuid() == 0) {
    EXPECT_EQ(Start({"--system", "set", "COM8", "/dev/ttyS0"}).exitCode, 0);
    EXPECT_EQ(ReadFile(machine.Root() + "/etc/zelnet/ports.conf"), "COM8 = /dev/ttyS0\n");
  }
}

// A child of a root test runs as nobody with no groups; as another user the test runs as is.
class Unprivileged : public Tool {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make an unprivileged child";
    setpriv = QStandardPaths::findExecutable("setpriv");
    if (setpriv.isEmpty()) GTEST_SKIP() << "setpriv (util-linux) is not installed";
    // A copy of the tool where nobody may run it, whatever the build folder's permissions.
    QFile::setPermissions(bin.path(),
                          QFile::permissions(bin.path()) | QFile::ReadOther | QFile::ExeOther);
    tool = bin.filePath("zelnet-ports");
    ASSERT_TRUE(QFile::copy(ZELNET_PORTS_TOOL, tool));
  }
  ToolRun AsNobody(const QStringList& args) {
    return Start(args, setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", "--", tool});
  }

  QString setpriv;
  QTemporaryDir bin;
  QString tool;
};

TEST_F(Unprivileged, PermissionDeniedIsNamedWithTheFix) {
  // A pseudo-terminal of root's (mode 0620): nobody may not open it.
  zelnet::test::PtyPeer line;
  env.insert("ZELNET_COM1", QString::fromStdString(line.SlavePath()));
  env.insert("HOME", bin.path());
  const ToolRun run = AsNobody({"--json"});
  EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
  const QJsonObject com1 = run.Json()["ports"].toArray().at(0).toObject();
  EXPECT_EQ(com1["state"].toString(), "permission denied") << run.out.toStdString();
  EXPECT_TRUE(com1["fix"].toString().contains("sudo adduser $USER dialout"))
      << run.out.toStdString();
  EXPECT_TRUE(com1["fix"].toString().contains("log in again"));

  const ToolRun table = AsNobody({});
  EXPECT_TRUE(table.out.contains("COM1: permission denied")) << table.out.toStdString();
  EXPECT_TRUE(table.out.contains("sudo adduser $USER dialout"));

  // The system map is root's: a clear error, and the map as it was.
  machine.WriteSystemMap("# kept\n");
  const ToolRun edit = AsNobody({"--system", "set", "COM1", "/dev/ttyUSB0"});
  EXPECT_EQ(edit.exitCode, 1);
  EXPECT_TRUE(edit.err.contains("cannot write " + machine.Root() + "/etc/zelnet/ports.conf"))
      << edit.err.toStdString();
  EXPECT_TRUE(edit.err.contains("the system map needs root: sudo zelnet-ports --system set COM1"));
  EXPECT_EQ(ReadFile(machine.Root() + "/etc/zelnet/ports.conf"), "# kept\n");
}

}  // namespace
