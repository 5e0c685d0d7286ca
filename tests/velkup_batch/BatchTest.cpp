// velkup-batch as a real process against several bvsim instances on pseudo-terminals: the bytes
// on every port, one port failing beside healthy ones, a damaged file, Ctrl-C, the report, the
// progress lines and the update history; and its command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "BatchOptions.h"
#include "BatchRig.h"
#include "HexWriter.h"
#include "SimSupport.h"

using namespace velkup;

using namespace velkup::test;
using zelnet::test::HexImage;
using zelnet::test::PatternByte;

namespace {

using namespace std::chrono_literals;

// The window the images cover in a firmware read back.
std::vector<uint8_t> Span(const std::vector<uint8_t>& fw, uint32_t first, uint32_t end) {
  return {fw.begin() + first, fw.begin() + end};
}
std::vector<uint8_t> Pattern(uint32_t first, uint32_t end) {
  std::vector<uint8_t> m;
  for (uint32_t a = first; a < end; ++a) m.push_back(PatternByte(a));
  return m;
}

QJsonObject ImageOf(const QJsonObject& port, const char* name) {
  for (const auto& v : port["images"].toArray())
    if (v.toObject()["name"].toString() == name) return v.toObject();
  return {};
}

}  // namespace

TEST_F(BatchRig, EveryPortGetsEveryBlockByteExactWithReportHistoryAndPlainProgress) {
  Sims(3);
  std::ofstream(image.toStdString()) << HexImage(0xB000, 0x1B000) << "\x1A";
  const Finished f = Batch(PortArgs() << "--images"
                                      << "encryption,bvcontrol"
                                      << "--family"
                                      << "qa"
                                      << "--report" << report << image);
  ASSERT_EQ(f.exitCode, 0) << f.out.toStdString() << f.err.toStdString();
  EXPECT_TRUE(f.err.isEmpty()) << f.err.toStdString();

  for (size_t i = 0; i < sims.size(); ++i) {
    SCOPED_TRACE(i);
    // The unit is identified before its update and seen again after it; the update's own
    // bytes are the window's.
    const auto all = sims[i]->ReceivedFrames();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all[0].bytes, (Bytes{0x02, 0x01, 0x06, 0x37, 0x46, 0x72}));
    EXPECT_EQ(Commands(all).back(), "37");
    const auto frames = UpdateFrames(all);
    ASSERT_FALSE(frames.empty());
    // The window's sequence: Poll to address 0x01 first, then Power Up's reset.
    EXPECT_EQ(frames[0].bytes, (Bytes{0x02, 0x01, 0x06, 0x33, 0x62, 0x34}));
    const Cmds cmds = Commands(frames);
    EXPECT_EQ(Cmds(cmds.begin(), cmds.begin() + 3), (Cmds{"33", "00", "30"}));
    EXPECT_EQ(cmds.back(), "50 03");
    const auto blocks = BlockAddresses(frames);
    ASSERT_EQ(blocks.size(), 256u);
    for (size_t b = 0; b < blocks.size(); ++b) EXPECT_EQ(blocks[b], 0xB000 + 256 * b);
    for (const auto& fr : frames) EXPECT_TRUE(fr.crcOk && fr.Address() == 0x01);
    EXPECT_EQ(Span(sims[i]->Firmware(), 0xB000, 0x1B000), Pattern(0xB000, 0x1B000));
    EXPECT_FALSE(sims[i]->InDownloadMode());
  }

  // Plain lines, not a terminal: a start, the 10 % steps and an end per image and port.
  const QStringList lines = f.out.split('\n');
  for (size_t i = 0; i < sims.size(); ++i) {
    const QString p = Port(i) + ": ";
    EXPECT_EQ(lines.filter(p + "Encryption").size(), 11);
    EXPECT_TRUE(lines.contains(p + "BV Control started (224 blocks)"));
    EXPECT_TRUE(lines.contains(p + "BV Control 50% (112/224 blocks)"));
    EXPECT_EQ(lines
                  .filter(QRegularExpression("^" + QRegularExpression::escape(p) +
                                             "BV Control written \\(224/224 blocks, [0-9.]+ s\\)$"))
                  .size(),
              1);
  }
  EXPECT_FALSE(f.out.contains('\x1b'));
  EXPECT_EQ(lines.filter(QRegularExpression(" ok +256 ")).size(), 3);

  const QJsonObject r = ReadReport();
  EXPECT_EQ(r["file"].toString(), image);
  EXPECT_EQ(r["sha256"].toString(), Sha256Of(image));
  const QJsonArray ports = r["ports"].toArray();
  ASSERT_EQ(ports.size(), 3);
  for (qsizetype i = 0; i < 3; ++i) {
    const QJsonObject p = ports[i].toObject();
    EXPECT_EQ(p["port"].toString(), Port(static_cast<size_t>(i)));
    EXPECT_EQ(p["result"].toString(), "ok");
    EXPECT_GT(p["seconds"].toDouble(), 0);
    ASSERT_EQ(p["images"].toArray().size(), 2);
    EXPECT_EQ(ImageOf(p, "encryption")["blocks_written"].toInt(), 32);
    EXPECT_EQ(ImageOf(p, "bvcontrol")["blocks_written"].toInt(), 224);
    EXPECT_EQ(ImageOf(p, "bvcontrol")["result"].toString(), "ok");
    EXPECT_FALSE(ImageOf(p, "bvcontrol").contains("reason"));
  }

  const auto history = History();
  ASSERT_EQ(history.size(), 3);
  for (const QJsonObject& h : history) {
    EXPECT_EQ(h["program"].toString(), "velkup-batch");
    EXPECT_EQ(h["family"].toString(), "qa");
    EXPECT_EQ(h["baud"].toInt(), 19200);
    EXPECT_EQ(h["file"].toString(), image);
    EXPECT_EQ(h["sha256"].toString(), Sha256Of(image));
    EXPECT_EQ(h["images"].toArray(), (QJsonArray{"encryption", "bvcontrol"}));
    EXPECT_EQ(h["outcome"].toArray().size(), 2);
    EXPECT_TRUE(QDateTime::fromString(h["time"].toString(), Qt::ISODateWithMs).isValid());
  }
}

TEST_F(BatchRig, AFailingPortNeverDisturbsTheOthers) {
  // 0 refuses a block, 1 falls silent on one, 2 is unplugged mid-image and comes back under the
  // same name as a new device, 3 is healthy. Each failing port abandons Encryption and still
  // writes BV Control.
  Sims(4);
  std::ofstream(image.toStdString()) << HexImage(0xB000, 0x1B000);
  const bvsim::Fault refuse = RefusedBlock(0xB300, 0x30);
  sims[0]->InjectFault(refuse);
  bvsim::Fault silent = refuse;
  silent.kind = bvsim::Fault::Silent;
  silent.blockAddress = 0xB400;
  sims[1]->InjectFault(silent);
  bvsim::Fault drop = refuse;
  drop.kind = bvsim::Fault::DropLine;
  drop.blockAddress = 0xB500;
  sims[2]->InjectFault(drop);

  // The new device appears while the port waits after its failure.
  std::atomic<bool> done = false;
  std::thread replug([&] {
    while (!done && !sims[2]->LineDropped()) std::this_thread::sleep_for(2ms);
    if (done) return;
    sims[2]->ClearFaults();
    EXPECT_TRUE(sims[2]->Start());
    Link(2);
  });
  const Finished f = Batch(PortArgs() << "--images"
                                      << "encryption,bvcontrol"
                                      << "--report" << report << image);
  done = true;
  replug.join();
  EXPECT_EQ(f.exitCode, 1) << f.out.toStdString() << f.err.toStdString();

  const QStringList reasons = {"refused with code 30", "no answer", "port lost"};
  const uint32_t failedAt[] = {0xB300, 0xB400, 0xB500};
  const QJsonArray ports = ReadReport()["ports"].toArray();
  ASSERT_EQ(ports.size(), 4);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const QJsonObject p = ports[static_cast<qsizetype>(i)].toObject();
    EXPECT_EQ(p["result"].toString(), "failed");
    const QJsonObject enc = ImageOf(p, "encryption");
    EXPECT_EQ(enc["result"].toString(), "failed");
    EXPECT_EQ(enc["reason"].toString(), reasons[static_cast<qsizetype>(i)]);
    EXPECT_EQ(enc["failed_block_address"].toInt(), static_cast<int>(failedAt[i]));
    EXPECT_EQ(enc["blocks_written"].toInt(), static_cast<int>((failedAt[i] - 0xB000) / 256));
    EXPECT_EQ(ImageOf(p, "bvcontrol")["result"].toString(), "ok");
    const auto fw = sims[i]->Firmware();
    EXPECT_EQ(Span(fw, 0xB000, failedAt[i]), Pattern(0xB000, failedAt[i]));
    EXPECT_EQ(fw[failedAt[i]], 0xFF);
    EXPECT_EQ(Span(fw, 0xD000, 0x1B000), Pattern(0xD000, 0x1B000));
    // The table names the image, the block and why.
    EXPECT_TRUE(f.out.contains(
        QStringLiteral("Encryption failed at block 0x%1: %2")
            .arg(QString::number(failedAt[i], 16).toUpper().rightJustified(5, QLatin1Char('0')),
                 reasons[static_cast<qsizetype>(i)])))
        << f.out.toStdString();
  }
  EXPECT_EQ(ports[3].toObject()["result"].toString(), "ok");
  EXPECT_EQ(Span(sims[3]->Firmware(), 0xB000, 0x1B000), Pattern(0xB000, 0x1B000));
  EXPECT_EQ(Commands(UpdateFrames(sims[3]->ReceivedFrames())).back(), "50 03");
}

TEST_F(BatchRig, ADamagedSpecialOrHugeFileSendsNoByteToAnyPort) {
  Sims(3);
  std::ofstream(image.toStdString()) << HexImage(0xB000, 0xB100) << ":10B10000FF\r\n";
  std::ofstream(image.toStdString() + ".x") << ":00000001FF\r\n";
  const Finished f = Batch(PortArgs() << "--report" << report << image);
  EXPECT_EQ(f.exitCode, 2);
  EXPECT_EQ(f.err.count('\n'), 1);
  EXPECT_TRUE(f.err.contains(image + " is damaged at line 19")) << f.err.toStdString();
  const Finished missing = Batch(PortArgs() << dir.filePath("missing.vkf"));
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_TRUE(missing.err.contains("Cannot open file")) << missing.err.toStdString();

  // Files whose reading would never end, or that no image can be: one line each.
  const QString fifo = dir.filePath("fifo.vkf");
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  const QString huge = dir.filePath("huge.vkf");
  {
    std::ofstream out(huge.toStdString());
    const std::string line = HexImage(0xB000, 0xB010);
    for (int i = 0; i < 4096; ++i) out << line;  // a small start of repeated records ...
  }
  std::filesystem::resize_file(huge.toStdString(), 200'000'000);  // ... in a file of 200 MB
  for (const QString& special :
       {QStringLiteral("/dev/zero"), QStringLiteral("/dev/urandom"), fifo, huge}) {
    const Finished s = Batch(PortArgs() << "--report" << report << special);
    EXPECT_EQ(s.exitCode, 2) << special.toStdString();
    EXPECT_EQ(s.err.count('\n'), 1) << s.err.toStdString();
    EXPECT_TRUE(s.err.startsWith("velkup-batch: The image file " + special + " is "))
        << s.err.toStdString();
    EXPECT_TRUE(s.err.contains(special == huge ? "is larger than" : "is not a regular file"))
        << s.err.toStdString();
  }
  EXPECT_FALSE(QFile::exists(report));
  EXPECT_TRUE(History().isEmpty());

  // Not a byte went out: every simulator's record begins with the next good run's first frame,
  // its identification.
  std::ofstream(image.toStdString()) << HexImage(0xB000, 0xB100);
  const Finished good = Batch(PortArgs() << "--images"
                                         << "encryption" << image);
  EXPECT_EQ(good.exitCode, 0) << good.out.toStdString() << good.err.toStdString();
  for (const auto& s : sims) {
    const Cmds cmds = Commands(s->ReceivedFrames());
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.front(), "37");
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "50 02"), 32);
  }
}

TEST_F(BatchRig, InterruptStopsEveryPortAfterItsBlockWithoutFinishing) {
  Sims(3, 19200);  // paced, so that the interrupt lands mid-image
  std::ofstream(image.toStdString()) << ":00000001FF\r\n";
  QProcess* p = Launch(PortArgs() << "--images"
                                  << "validation"
                                  << "--report" << report << image);
  for (const auto& s : sims)
    ASSERT_TRUE(s->WaitForFrame(
        [](const bvsim::Frame& fr) { return IsBlock(fr) && BlockAddress(fr) >= 0x1B400; }, 60s));
  ::kill(static_cast<pid_t>(p->processId()), SIGINT);
  const Finished f = Wait(p);
  EXPECT_EQ(f.exitCode, 1);
  EXPECT_TRUE(f.out.contains("Stopped before the end.")) << f.out.toStdString();
  const QJsonArray ports = ReadReport()["ports"].toArray();
  ASSERT_EQ(ports.size(), 3);
  for (size_t i = 0; i < sims.size(); ++i) {
    SCOPED_TRACE(i);
    // Closed: the line is free for another program at once, and up to that program's first
    // frame the block in flight was the last one: no DownloadFinish.
    const auto before = FramesBeforeMark(*sims[i], Port(i));
    ASSERT_TRUE(before);
    const auto& frames = *before;
    EXPECT_TRUE(IsBlock(frames.back()));
    const size_t blocks = BlockAddresses(frames).size();
    EXPECT_LT(blocks, 1616u);
    const QJsonObject val = ImageOf(ports[static_cast<qsizetype>(i)].toObject(), "validation");
    EXPECT_EQ(val["reason"].toString(), "stopped");
    EXPECT_EQ(val["blocks_written"].toInt(), static_cast<int>(blocks));
  }
}

TEST_F(BatchRig, AnUnwritableHistoryIsOneLineAndTheUpdateGoesOn) {
  Sims(1);
  std::ofstream(image.toStdString()) << HexImage(0xB000, 0xB400);
  std::ofstream(dataHome.toStdString()) << "a file where the folder should be";
  const Finished f = Batch(PortArgs() << "--images"
                                      << "encryption" << image);
  EXPECT_EQ(f.exitCode, 0);
  EXPECT_EQ(f.err.count('\n'), 1);
  EXPECT_TRUE(f.err.startsWith("cannot write the update history")) << f.err.toStdString();
  EXPECT_EQ(Span(sims[0]->Firmware(), 0xB000, 0xB400), Pattern(0xB000, 0xB400));
}

TEST(BatchOptions, TheCommandLineIsCheckedBeforeAnythingIsSent) {
  TBatchOptions o;
  QString message;
  ASSERT_EQ(ParseBatchOptions({"--port", "COM2", "--port=/dev/ttyUSB1", "--family", "qa", "--baud",
                               "9600", "--images", "validation,encryption", "f.vkf"},
                              o, message),
            TBatchCommand::Run);
  EXPECT_EQ(o.ports, (QStringList{"COM2", "/dev/ttyUSB1"}));
  EXPECT_EQ(o.bvTypeIndex, 0);
  EXPECT_EQ(o.baud, 9600u);
  EXPECT_EQ(o.images, (std::array<bool, 3>{true, false, true}));
  EXPECT_EQ(o.imageFile, "f.vkf");

  TBatchOptions d;
  ASSERT_EQ(ParseBatchOptions({"--port", "COM1", "f.vkf"}, d, message), TBatchCommand::Run);
  EXPECT_EQ(d.bvTypeIndex, 1);
  EXPECT_EQ(d.baud, 19200u);
  EXPECT_EQ(d.images, (std::array<bool, 3>{true, true, true}));
  EXPECT_TRUE(d.verify);
  EXPECT_EQ(d.verifyTimeoutS, 30);
  EXPECT_FALSE(d.watch || d.history || d.csv);

  TBatchOptions line;
  ASSERT_EQ(ParseBatchOptions(
                {"--watch", "--port", "COM1", "--no-verify", "--verify-timeout", "5", "f.vkf"},
                line, message),
            TBatchCommand::Run)
      << message.toStdString();
  EXPECT_TRUE(line.watch);
  EXPECT_FALSE(line.verify);
  EXPECT_EQ(line.verifyTimeoutS, 5);
  TBatchOptions history;
  ASSERT_EQ(ParseBatchOptions({"--history", "--serial", "SN-1", "--csv"}, history, message),
            TBatchCommand::Run);
  EXPECT_TRUE(history.history && history.csv);
  EXPECT_EQ(history.serialNumber, "SN-1");
  EXPECT_TRUE(history.ports.isEmpty() && history.imageFile.isEmpty());

  EXPECT_EQ(ParseBatchOptions({"--help"}, d, message), TBatchCommand::Help);
  EXPECT_EQ(ParseBatchOptions({"--version"}, d, message), TBatchCommand::Version);

  const QList<QStringList> bad = {
      {"f.vkf"},
      {"--port", "COM1"},
      {"--port", "COM1", "a.vkf", "b.vkf"},
      {"--port", "COM1", "--baud", "115200", "f.vkf"},
      {"--port", "COM1", "--family", "qc", "f.vkf"},
      {"--port", "COM1", "--images", "encryption,firmware", "f.vkf"},
      {"--port", "COM1", "--images", "", "f.vkf"},
      {"--port", "ttyUSB0", "f.vkf"},
      {"--port", "COM1", "--port", "COM1", "f.vkf"},
      {"--port", "COM1", "--speed", "9600", "f.vkf"},
      {"--port", "COM1", "f.vkf", "--report"},
      {"--port", "COM1", "--verify-timeout", "0", "f.vkf"},
      {"--port", "COM1", "--verify-timeout", "soon", "f.vkf"},
      {"--port", "COM1", "--serial", "SN-1", "f.vkf"},
      {"--port", "COM1", "--csv", "f.vkf"},
      {"--history", "--port", "COM1"},
      {"--history", "f.vkf"},
      {"--history", "--serial", ""},
      {"--port", "COM1", "--family", "qa", "--family=qb", "f.vkf"},
  };
  for (const QStringList& args : bad) {
    SCOPED_TRACE(args.join(' ').toStdString());
    TBatchOptions fresh;
    EXPECT_EQ(ParseBatchOptions(args, fresh, message), TBatchCommand::Error);
    EXPECT_TRUE(message.startsWith("velkup-batch: "));
    EXPECT_FALSE(message.contains('\n'));
  }

  // The help lists every option of the table with its value.
  const QString help = BatchUsage();
  for (const TBatchOption& row : BatchOptionTable())
    EXPECT_TRUE(help.contains("  --" + row.option.names().first() + " " + row.option.valueName()))
        << help.toStdString();
  EXPECT_TRUE(help.contains("  -h, --help ")) << help.toStdString();
}

TEST_F(BatchRig, ABadOptionIsOneLineAndExitStatusTwo) {
  Sims(1);
  std::ofstream(image.toStdString()) << ":00000001FF\r\n";
  const Finished f = Batch(PortArgs() << "--baud"
                                      << "4800" << image);
  EXPECT_EQ(f.exitCode, 2);
  EXPECT_EQ(f.err, "velkup-batch: --baud must be 9600 or 19200, not \"4800\" (see --help)\n");
  const Finished v = Batch({"--version"});
  EXPECT_EQ(v.exitCode, 0);
  EXPECT_TRUE(v.out.startsWith("velkup-batch ")) << v.out.toStdString();
  const auto before = FramesBeforeMark(*sims[0], Port(0));
  ASSERT_TRUE(before);
  EXPECT_TRUE(before->empty());
}
