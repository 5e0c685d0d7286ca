// The Download and CRC32 buttons of the main window, offscreen, against bvsim: a file written by
// objcopy downloaded end to end with every log line, the controls locked while it runs, the CRC32
// of what the simulator stored; then the files and answers that end a download early.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <memory>

#include "ConsoleRig.h"
#include "HexWriter.h"
#include "ToolHex.h"
#include "bvsim.h"

using namespace velkor::test;
using velkor::TMainForm;
using zelnet::test::Bytes;

namespace {

// The window found the simulator on COM1 at start-up.
struct SimWindow : SimConsole {
  SimWindow() { EXPECT_TRUE(Lines().contains("Device has found on COM1!")); }

  // Clicks Download with the dialog answering `file`; returns the lines it added and leaves the
  // frames it sent in the simulator's record.
  QStringList Download(const QString& file) {
    dialogs.fileAnswer = file;
    sim.ClearReceived();
    const qsizetype from = Lines().size();
    Click(Button("BtnDownload"));
    return Since(from);
  }
  // Sub-commands of the Download requests received (-1: the command alone), other codes as such.
  std::vector<int> Requests() const {
    std::vector<int> requests;
    for (const bvsim::Frame& f : sim.ReceivedFrames())
      requests.push_back(f.Command() == 0x50 ? f.SubCommand() : 0x100 + f.Command());
    return requests;
  }
  bool ControlsEnabled() const {
    for (const char* name :
         {"BtnDownload", "Button1", "BtnStopPoll", "BtnReqStat", "BtnPoll", "BtnExit"}) {
      if (!Button(name)->isEnabled()) return false;
    }
    return true;
  }
};

const QStringList kIntoDownloadMode = {kSep, "The Download-command is executed", "Download mode"};
constexpr int kCommandAlone = -1;

}  // namespace

TEST(DownloadButton, DownloadsAnObjcopyFileAndCrc32ShowsTheChecksumOfWhatWasStored) {
  zelnet::test::ToolHex tools;
  const Bytes firmware = zelnet::test::RandomBytes(700, 3);
  const QString file = tools.Path(tools.Objcopy("firmware", firmware));
  SimWindow w;
  QCheckBox* showMessages = Control<QCheckBox>(*w.form, "CheckBox1");
  showMessages->setChecked(true);  // "Show Messages": only the Download command is traced

  // The controls are locked from the start: look during the 400 ms pause after the command.
  bool locked = false;
  When pausing([&] { return w.sim.WaitForCommand(0x50, std::chrono::milliseconds(0)); },
               [&] {
                 locked =
                     !w.Button("BtnDownload")->isEnabled() && !w.Button("Button1")->isEnabled() &&
                     !w.Button("BtnStopPoll")->isEnabled() && !w.Button("BtnReqStat")->isEnabled();
               });
  const QStringList lines = w.Download(file);
  EXPECT_EQ(lines,
            (QStringList{kSep, "-> 02, 03, 06, 50, 47, D0, ", kSep, "<- 02, 03, 06, 00, C2, 82, ",
                         kSep, "The Download-command is executed", "Download mode",
                         "HEX-FILE - OK!", "Preparation data...", "** OK.",
                         "Programming data to BV...", "Proramming - OK!"}));
  EXPECT_EQ(w.dialogs.fileFilters, QStringList{"HEX-Files(*.hex)|*.hex"});
  EXPECT_TRUE(pausing.Fired());
  EXPECT_TRUE(locked);
  EXPECT_TRUE(w.ControlsEnabled());
  EXPECT_EQ(Control<QProgressBar>(*w.form, "ProgBarMain")->value(), 0);
  EXPECT_EQ(w.Requests(),
            (std::vector<int>{kCommandAlone, 0, 0, 1, 2, 2, 2, 3}));  // three blocks of 256

  // What the simulator stored is the file's bytes, 0xFF elsewhere.
  Bytes expected(velkor::kFirmwareImageSize, 0xFF);
  std::copy(firmware.begin(), firmware.end(), expected.begin());
  EXPECT_EQ(w.sim.Firmware(), expected);

  showMessages->setChecked(false);
  const qsizetype from = w.Lines().size();
  Click(w.Button("Button1"));
  const QString crc = QString("%1").arg(zelnet::test::Crc32(expected), 8, 16, QChar('0')).toUpper();
  EXPECT_EQ(crc, QString("%1").arg(w.sim.FirmwareCrc32(), 8, 16, QChar('0')).toUpper());
  // The transaction sets the answer off when its byte 3 differs from the last status, which no
  // poll loop has set: 0.
  QStringList expectedLines;
  if ((zelnet::test::Crc32(expected) >> 24) != 0) expectedLines << kSep;
  expectedLines << kSep << "* CRC32 = " + crc;
  EXPECT_EQ(w.Since(from), expectedLines);
  EXPECT_TRUE(w.dialogs.errorBoxes.isEmpty());
}

TEST(DownloadButton, RefusedFilesAndACancelledDialogSendNothingAfterDownloadMode) {
  zelnet::test::ToolHex tools;
  const QString good = tools.Objcopy("good", zelnet::test::RandomBytes(100, 4));
  SimWindow w;
  const std::vector<int> intoDownloadMode = {kCommandAlone, 0};

  // Cancelled.
  EXPECT_EQ(w.Download(QString()), kIntoDownloadMode);
  EXPECT_EQ(w.Requests(), intoDownloadMode);
  EXPECT_TRUE(w.ControlsEnabled());

  // A file that cannot be opened: the box names it.
  EXPECT_EQ(w.Download("/nonexistent/zelnet/firmware.hex"), kIntoDownloadMode);
  EXPECT_EQ(w.dialogs.errorBoxes, QStringList{"Cannot open file /nonexistent/zelnet/firmware.hex"});
  EXPECT_EQ(w.Requests(), intoDownloadMode);

  // A HEX file under a name that does not end in "hex" or "HEX".
  tools.WriteText("firmware.Hex", tools.Read(good).toStdString());
  EXPECT_EQ(w.Download(tools.Path("firmware.Hex")), kIntoDownloadMode);
  EXPECT_EQ(w.dialogs.messages, QStringList{"ERROR"});
  EXPECT_EQ(w.Requests(), intoDownloadMode);

  // A wrong checksum on the second line: the first pass names it.
  std::string bad = zelnet::test::DataRecord(0, 16) + zelnet::test::DataRecord(16, 16);
  bad[bad.size() - 3] = bad[bad.size() - 3] == '0' ? '1' : '0';
  tools.WriteText("bad.hex", bad + zelnet::test::kEndOfFile);
  QStringList lines = w.Download(tools.Path("bad.hex"));
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines.mid(0, 4), kIntoDownloadMode + QStringList{"ERROR HEX-FILE!!!"});
  EXPECT_TRUE(lines[4].startsWith("line 2: checksum")) << lines[4].toStdString();
  EXPECT_EQ(w.Requests(), intoDownloadMode);

  // An empty line after the end-of-file record is a line that does not start with ':'.
  tools.WriteText("trailing.hex", tools.Read(good).toStdString() + "\r\n");
  lines = w.Download(tools.Path("trailing.hex"));
  EXPECT_EQ(lines.mid(0, 4), kIntoDownloadMode + QStringList{"ERROR HEX-FILE!!!"});
  EXPECT_EQ(w.Requests(), intoDownloadMode);
  EXPECT_TRUE(w.ControlsEnabled());
  EXPECT_EQ(w.dialogs.errorBoxes.size(), 1);
}

TEST(DownloadButton, ExchangeFailuresEndTheDownloadWithTheirLineAndUnlockTheControls) {
  zelnet::test::ToolHex tools;
  const QString file = tools.Path(tools.Objcopy("firmware", zelnet::test::RandomBytes(300, 5)));
  SimWindow w;

  // The Download command unanswered: the transaction's own report, nothing more.
  bvsim::Fault silent;
  silent.kind = bvsim::Fault::Silent;
  silent.command = 0x50;
  w.sim.InjectFault(silent);
  EXPECT_EQ(w.Download(file), (QStringList{kSep, "Time-out!"}));
  EXPECT_EQ(w.Requests(), std::vector<int>{kCommandAlone});
  EXPECT_TRUE(w.dialogs.fileFilters.isEmpty());
  EXPECT_TRUE(w.ControlsEnabled());

  // DownloadStart unanswered: no dialog.
  silent.subCommand = 0x00;
  w.sim.ClearFaults();
  w.sim.InjectFault(silent);
  EXPECT_EQ(w.Download(file), (QStringList{kSep, "The Download-command is executed",
                                           "The ERROR exchange in Download mode"}));
  EXPECT_TRUE(w.dialogs.fileFilters.isEmpty());
  EXPECT_TRUE(w.ControlsEnabled());

  // A block size of 1024 bytes ends the download before any block.
  w.sim.ClearFaults();
  w.sim.SetBlockPower(10);
  const QStringList blockSize = w.Download(file);
  EXPECT_EQ(blockSize.mid(blockSize.size() - 2),
            (QStringList{"HEX-FILE - OK!", "ERROR exchange with BV!!!"}));
  EXPECT_EQ(w.Requests(), (std::vector<int>{kCommandAlone, 0, 0, 1}));
  EXPECT_EQ(Control<QProgressBar>(*w.form, "ProgBarMain")->value(), 0);

  // A file that passes the first pass but not the load.
  w.sim.SetBlockPower(8);
  tools.WriteText("outside.hex", zelnet::test::Record(0x04, 0, {0x00, 0x02}) +
                                     zelnet::test::DataRecord(0, 16) + zelnet::test::kEndOfFile);
  const QStringList load = w.Download(tools.Path("outside.hex"));
  ASSERT_GE(load.size(), 3);
  EXPECT_EQ(load.mid(load.size() - 3, 2),
            (QStringList{"Preparation data...", "ERROR HEX-FILE!!!"}));
  EXPECT_TRUE(load.back().startsWith("line 1: extended linear address 0x0002 refused"))
      << load.back().toStdString();
  EXPECT_EQ(w.Requests(), (std::vector<int>{kCommandAlone, 0, 0, 1}));
  EXPECT_TRUE(w.ControlsEnabled());

  // CRC32: no answer gives the transaction's line only; an answer too short to hold the four
  // bytes of the value shows no value made of its check code.
  bvsim::Fault silentCrc;
  silentCrc.kind = bvsim::Fault::Silent;
  silentCrc.command = 0x51;
  w.sim.InjectFault(silentCrc);
  qsizetype from = w.Lines().size();
  Click(w.Button("Button1"));
  EXPECT_EQ(w.Since(from), (QStringList{kSep, "Time-out!"}));
  w.sim.ScriptAnswer(0x51, {0x12});
  from = w.Lines().size();
  Click(w.Button("Button1"));
  EXPECT_EQ(w.Since(from), (QStringList{kSep, kSep, "The answer holds no CRC32 value!"}));

  // No port open: the transaction's box, and the controls come back.
  w.Detach();
  EXPECT_TRUE(w.Download(file).isEmpty());
  EXPECT_EQ(w.dialogs.errorBoxes, QStringList{"Execute search and reset of the BV!"});
  EXPECT_TRUE(w.ControlsEnabled());
}
