// The port map: its lines and warnings, edits that keep everything else, and the order in which a
// COM name is looked up (environment, user map, system map, automatic numbering).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include "Discovery.h"
#include "FakeMachine.h"
#include "PortMap.h"
#include "PortMapFile.h"
#include "ScopedEnv.h"

namespace {

using zelnet::test::FakeMachine;
using zelnet::test::ScopedEnv;
using zelnet_ports::PortMapFile;
using zelnet_ports::Resolve;
using zelnet_ports::Source;

QStringList WarningTexts(const PortMapFile& map) {
  QStringList texts;
  for (const auto& w : map.Warnings()) texts << w.Text();
  return texts;
}

TEST(PortMapFile, ReadsEntriesAndWarnsOncePerBadLineNamingFileAndLine) {
  const PortMapFile map =
      PortMapFile::Parse(QStringLiteral("/etc/zelnet/ports.conf"),
                         "# validators on the bench\n"
                         "\n"
                         "COM1 = /dev/serial/by-id/usb-FTDI_A10K4Z3B-if00-port0\n"
                         "  com2=/dev/ttyUSB1   # the left socket\r\n"
                         "COM3 /dev/ttyUSB2\n"
                         "COM9 = /dev/ttyUSB3\n"
                         "baud = 9600\n"
                         "COM1 = /dev/ttyUSB7\n"
                         "COM4 = ttyUSB0\n"
                         "COM5 =   \n"
                         "COM 6 = /dev/ttyS0\n"
                         "COM7 = rfc2217://bench-pi:3001\n"
                         "COM8 = tcp://bench-pi\n");
  EXPECT_EQ(map.Target(1), "/dev/serial/by-id/usb-FTDI_A10K4Z3B-if00-port0");
  int line = 0;
  EXPECT_EQ(map.Target(2, &line), "/dev/ttyUSB1");
  EXPECT_EQ(line, 4);
  EXPECT_EQ(map.Target(3), "");
  EXPECT_EQ(map.Target(4), "");
  EXPECT_EQ(map.Target(5), "");
  EXPECT_EQ(map.Target(6), "");
  EXPECT_EQ(map.Target(7), "rfc2217://bench-pi:3001");
  EXPECT_EQ(map.Target(8), "");
  const QStringList warnings = WarningTexts(map);
  ASSERT_EQ(warnings.size(), 8) << warnings.join('\n').toStdString();
  EXPECT_EQ(warnings[0], "/etc/zelnet/ports.conf:5: not COM<n> = TARGET, line skipped");
  EXPECT_EQ(warnings[1],
            "/etc/zelnet/ports.conf:6: unknown key \"COM9\" (the keys are COM1 to COM8), line "
            "skipped");
  EXPECT_TRUE(warnings[2].startsWith("/etc/zelnet/ports.conf:7: unknown key \"baud\""));
  EXPECT_EQ(warnings[3],
            "/etc/zelnet/ports.conf:8: COM1 is named again (first on line 3), line skipped");
  EXPECT_TRUE(warnings[4].startsWith("/etc/zelnet/ports.conf:9: COM4: bad target \"ttyUSB0\""));
  EXPECT_EQ(warnings[5], "/etc/zelnet/ports.conf:10: COM5 has no target, line skipped");
  EXPECT_TRUE(warnings[6].startsWith("/etc/zelnet/ports.conf:11: not COM<n>"));
  EXPECT_TRUE(warnings[7].startsWith("/etc/zelnet/ports.conf:13: COM8: bad target"));
}

TEST(PortMapFile, EditsKeepCommentsAndOtherLines) {
  const QByteArray original =
      "# Bench 3\n"
      "COM1 = /dev/ttyUSB0  # left validator\n"
      "\n"
      "# COM2 = /dev/ttyS1 (no longer there)\n"
      "COM3 = /dev/ttyUSB2\n"
      "COM9 = kept as it is\n"
      "COM1 = /dev/ttyUSB9\n";
  PortMapFile map = PortMapFile::Parse(QStringLiteral("ports.conf"), original);

  map.Set(1, QStringLiteral("/dev/serial/by-id/usb-X-if00-port0"));
  map.Set(2, QStringLiteral("rfc2217://bench-pi:3002"));
  EXPECT_TRUE(map.Unset(3));
  EXPECT_FALSE(map.Unset(5));
  EXPECT_EQ(map.Contents(),
            "# Bench 3\n"
            "COM1 = /dev/serial/by-id/usb-X-if00-port0  # left validator\n"
            "\n"
            "# COM2 = /dev/ttyS1 (no longer there)\n"
            "COM9 = kept as it is\n"
            "COM2 = rfc2217://bench-pi:3002\n");
  // Unset takes every line of the port, so a line skipped as a duplicate cannot come back.
  PortMapFile twice = PortMapFile::Parse(QStringLiteral("p"), "COM4 = /dev/a\nCOM4 = /dev/b");
  twice.Unset(4);
  EXPECT_EQ(twice.Contents(), "");
  EXPECT_EQ(twice.Target(4), "");

  // Saved and read back: the same map, its folder created.
  QTemporaryDir dir;
  PortMapFile saved = PortMapFile::Parse(dir.filePath("zelnet/ports.conf"), map.Contents());
  QString error;
  ASSERT_TRUE(saved.Save(&error)) << error.toStdString();
  const PortMapFile reread = PortMapFile::Load(dir.filePath("zelnet/ports.conf"));
  EXPECT_EQ(reread.Contents(), map.Contents());
  EXPECT_EQ(reread.Target(2), "rfc2217://bench-pi:3002");
}

// The machine of these tests: two adapters and a real built-in port, and a user map of its own.
class Lookup : public ::testing::Test {
 protected:
  Lookup() {
    machine.AddUsb("ttyUSB0", "3", "A10K4Z3B");
    machine.AddUsb("ttyUSB1", "2", "");
    machine.AddBuiltin("ttyS0", 4);
    env.Set("ZELNET_PORTS_ROOT", machine.Root().toLocal8Bit());
    env.Set("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    for (int n = 1; n <= 8; ++n) env.Set(("ZELNET_COM" + std::to_string(n)).c_str(), std::nullopt);
    zelnet_ports::SetWarningHandler([this](const QString& text) { warnings << text; });
  }
  ~Lookup() override { zelnet_ports::SetWarningHandler({}); }

  void WriteUserMap(const QByteArray& contents) {
    QDir().mkpath(config.filePath("zelnet"));
    QFile file(config.filePath("zelnet/ports.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
  }

  FakeMachine machine;
  QTemporaryDir config;
  ScopedEnv env;
  QStringList warnings;
};

TEST_F(Lookup, EnvironmentThenUserMapThenSystemMapThenAutomatic) {
  machine.WriteSystemMap("COM1 = /dev/sys1\nCOM2 = /dev/sys2\nCOM3 = /dev/sys3\n");
  WriteUserMap("COM1 = /dev/user1\nCOM2 = /dev/user2\n");
  env.Set("ZELNET_COM1", "/dev/pts/7");

  const auto com1 = Resolve("COM1");
  EXPECT_EQ(com1.target, "/dev/pts/7");
  EXPECT_EQ(com1.source, Source::Environment);
  const auto com2 = Resolve("com2");
  EXPECT_EQ(com2.target, "/dev/user2");
  EXPECT_EQ(com2.source, Source::UserMap);
  EXPECT_EQ(com2.file, config.filePath("zelnet/ports.conf"));
  EXPECT_EQ(com2.line, 2);
  const auto com3 = Resolve("COM3");
  EXPECT_EQ(com3.target, "/dev/sys3");
  EXPECT_EQ(com3.source, Source::SystemMap);
  EXPECT_EQ(com3.file, machine.Root() + "/etc/zelnet/ports.conf");
  // COM4 and on: the machine's ports, none of which a name above reaches, in their order.
  const auto com4 = Resolve("COM4");
  EXPECT_EQ(com4.source, Source::Automatic);
  EXPECT_EQ(com4.target, "/dev/ttyUSB1");  // socket 2 before socket 3
  EXPECT_EQ(Resolve("COM5").target, "/dev/ttyUSB0");
  EXPECT_EQ(Resolve("COM6").target, "/dev/ttyS0");
  EXPECT_EQ(Resolve("COM7").target, "");
  EXPECT_EQ(Resolve("COM7").source, Source::Automatic);

  // Any other name is its own target; the lookup is made again at every call.
  EXPECT_EQ(Resolve("/dev/ttyACM0").target, "/dev/ttyACM0");
  EXPECT_EQ(Resolve("/dev/ttyACM0").source, Source::Literal);
  env.Set("ZELNET_COM1", std::nullopt);
  EXPECT_EQ(Resolve("COM1").target, "/dev/user1");
  EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

TEST_F(Lookup, AutomaticNumbersSkipPortsANameAlreadyReaches) {
  // With nothing named, the first adapter by socket is COM1.
  EXPECT_EQ(Resolve("COM1").target, "/dev/ttyUSB1");
  // Named by its lasting name in the user map as COM3, that adapter is no longer numbered
  // automatically: COM1 and COM2 go to the others, and no device has two names.
  WriteUserMap("COM3 = /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\n");
  EXPECT_EQ(Resolve("COM1").target, "/dev/ttyUSB0");
  EXPECT_EQ(Resolve("COM2").target, "/dev/ttyS0");
  EXPECT_EQ(Resolve("COM3").source, Source::UserMap);
  EXPECT_EQ(Resolve("COM4").target, "");
}

TEST_F(Lookup, AMapsWarningsGoOutOncePerLineAndNeverStopTheLookup) {
  WriteUserMap("COM1 = /dev/user1\nCOM1 = /dev/again\nnonsense\n");
  machine.WriteSystemMap("COM2 = not-a-path\n");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Resolve("COM1").target, "/dev/user1");
    EXPECT_EQ(Resolve("COM2").source, Source::Automatic);
  }
  ASSERT_EQ(warnings.size(), 3) << warnings.join('\n').toStdString();
  EXPECT_TRUE(warnings[0].startsWith(config.filePath("zelnet/ports.conf") + ":2: "));
  EXPECT_TRUE(warnings[1].startsWith(config.filePath("zelnet/ports.conf") + ":3: "));
  EXPECT_TRUE(warnings[2].startsWith(machine.Root() + "/etc/zelnet/ports.conf:1: "));
}

}  // namespace
