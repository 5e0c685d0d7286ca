// velkup-batch on a production line, as a real process against bvsim units with serial numbers
// of their own: every unit named in the table, the report and the history; a unit that gives no
// identification; the check that each unit comes back, and one that never does; --watch with
// units plugged in, taken away and plugged in again, a port with no adapter, and Ctrl-C with its
// summary; reading the history back.
#include <gtest/gtest.h>
#include <signal.h>

#include <QJsonArray>
#include <fstream>

#include "BatchRig.h"
#include "HexWriter.h"

using namespace velkup::test;
using zelnet::test::HexImage;

namespace {

bvsim::Config Unit(const std::string& serial, int restartMs = 0) {
  bvsim::Config c = VelkupValidator();
  c.serialNumber = serial;
  c.restartAfterUpdateMs = restartMs;
  return c;
}

bvsim::Fault NoIdentification() {
  bvsim::Fault f;
  f.kind = bvsim::Fault::Silent;
  f.command = 0x37;
  f.count = bvsim::kForever;
  return f;
}

// What was sent after DownloadFinish: the come-back check's Polls and identification.
Cmds AfterFinish(const std::vector<bvsim::Frame>& frames) {
  const Cmds all = Commands(frames);
  auto finish = std::find(all.begin(), all.end(), "50 03");
  return finish == all.end() ? Cmds{} : Cmds(finish + 1, all.end());
}

long PollsAfterFinish(const std::vector<bvsim::Frame>& frames) {
  const Cmds after = AfterFinish(frames);
  return std::count(after.begin(), after.end(), "33");
}

struct ProductionLine : BatchRig {
  void SetUp() override { std::ofstream(image.toStdString()) << HexImage(0xB000, 0xB800); }
  QStringList Args() {
    return PortArgs() << "--images"
                      << "encryption" << image;
  }
};

TEST_F(ProductionLine, EveryUnitIsNamedCheckedAndRecordedInTableReportAndHistory) {
  bvsim::Config restarts = Unit("SN-0001", 2000);
  restarts.partNumber = "ZBV-700-EUR";
  restarts.assetNumber = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  AddSim(restarts);
  AddSim(Unit("SN-0002"));
  AddSim(Unit("SN-0003")).InjectFault(NoIdentification());

  const Finished f = Batch(QStringList{"--report", report} << Args());
  ASSERT_EQ(f.exitCode, 0) << f.out.toStdString() << f.err.toStdString();

  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const auto frames = sims[i]->ReceivedFrames();
    // Identification first; the update itself exactly as the window sends it; then Polls until
    // the unit answers, and its identification once more.
    EXPECT_EQ(Commands(frames).front(), "37");
    const Cmds update = Commands(UpdateFrames(frames));
    ASSERT_GE(update.size(), 6u);
    EXPECT_EQ(Cmds(update.begin(), update.begin() + 3), (Cmds{"33", "00", "30"}));
    EXPECT_EQ(BlockAddresses(frames).size(), 32u);
    const Cmds after = AfterFinish(frames);
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(Cmds(after.end() - 3, after.end()), (Cmds{"33", "00", "37"}));
  }
  // The unit that restarts for 2 s was polled in vain meanwhile.
  EXPECT_GE(PollsAfterFinish(sims[0]->ReceivedFrames()), 4);

  const QJsonArray ports = ReadReport()["ports"].toArray();
  ASSERT_EQ(ports.size(), 3);
  const QJsonObject first = ports[0].toObject();
  EXPECT_EQ(first["serial_number"].toString(), "SN-0001");
  EXPECT_EQ(first["part_number"].toString(), "ZBV-700-EUR");
  EXPECT_EQ(first["part_number_after"].toString(), "ZBV-700-EUR");
  EXPECT_EQ(first["asset_number"].toString(), "72057594037927935");
  EXPECT_GE(first["came_back_s"].toDouble(), 2.0);
  EXPECT_EQ(first["result"].toString(), "ok");
  EXPECT_EQ(ports[1].toObject()["serial_number"].toString(), "SN-0002");
  EXPECT_EQ(ports[1].toObject()["asset_number"].toString(), "12345");
  EXPECT_TRUE(ports[1].toObject()["came_back_s"].isDouble());
  // Not identified, and still updated and checked.
  const QJsonObject third = ports[2].toObject();
  EXPECT_TRUE(third["serial_number"].isNull());
  EXPECT_TRUE(third["part_number"].isNull());
  EXPECT_TRUE(third["asset_number"].isNull());
  EXPECT_EQ(third["result"].toString(), "ok");
  EXPECT_TRUE(third["came_back_s"].isDouble());

  // The table: serial numbers, part numbers, and when each came back.
  const QStringList lines = f.out.split('\n');
  const auto row = [&](size_t i) {
    const QStringList r = lines.filter(Port(i) + "  ");
    return r.isEmpty() ? QString() : r.last();
  };
  EXPECT_TRUE(
      lines
          .filter(QRegularExpression("^PORT +TARGET +SERIAL +PART +RESULT +BLOCKS +DURATION +"
                                     "CAME BACK$"))
          .size() == 1)
      << f.out.toStdString();
  EXPECT_TRUE(
      row(0).contains(QRegularExpression("SN-0001 +ZBV-700-EUR +ok +32 .* [2-9]\\.[0-9] s$")))
      << row(0).toStdString();
  EXPECT_TRUE(row(2).contains(QRegularExpression("not identified +- +ok +32 ")))
      << row(2).toStdString();

  const auto history = History();
  ASSERT_EQ(history.size(), 3);
  EXPECT_EQ(history[0]["serial_number"].toString(), "SN-0001");
  EXPECT_EQ(history[0]["part_number_after"].toString(), "ZBV-700-EUR");
  EXPECT_GE(history[0]["came_back_s"].toDouble(), 2.0);
  EXPECT_EQ(history[0]["result"].toString(), "ok");
  EXPECT_EQ(history[1]["serial_number"].toString(), "SN-0002");
  EXPECT_TRUE(history[2]["serial_number"].isNull());
}

TEST_F(ProductionLine, AUnitThatNeverComesBackFailsAndNoVerifyLeavesTheCheckOut) {
  AddSim(Unit("SN-GONE", 3600 * 1000));
  AddSim(Unit("SN-BACK"));
  // A third port whose adapter is missing reaches no unit: nothing to check, no wait for it.
  const Finished f = Batch(PortArgs() << "--port" << dir.filePath("missing") << "--verify-timeout"
                                      << "2"
                                      << "--report" << report << "--images"
                                      << "encryption" << image);
  EXPECT_EQ(f.exitCode, 1) << f.out.toStdString();
  const QJsonArray ports = ReadReport()["ports"].toArray();
  ASSERT_EQ(ports.size(), 3);
  const QJsonObject missing = ports[2].toObject();
  EXPECT_EQ(missing["port"].toString(), dir.filePath("missing"));
  EXPECT_EQ(missing["result"].toString(), "failed");
  EXPECT_FALSE(missing.contains("reason"));
  EXPECT_EQ(missing["images"].toArray()[0].toObject()["reason"].toString(),
            "port cannot be opened");
  const QJsonObject gone = ports[0].toObject();
  EXPECT_EQ(gone["result"].toString(), "failed");
  EXPECT_EQ(gone["reason"].toString(), "did not come back");
  EXPECT_TRUE(gone["came_back_s"].isNull());
  EXPECT_TRUE(gone["part_number_after"].isNull());
  EXPECT_EQ(gone["images"].toArray()[0].toObject()["result"].toString(), "ok");
  EXPECT_EQ(ports[1].toObject()["result"].toString(), "ok");
  EXPECT_TRUE(f.out.contains(QRegularExpression("SN-GONE .* did not come back .* no\n")))
      << f.out.toStdString();
  // Polled every 500 ms for the 2 s it was given.
  EXPECT_GE(PollsAfterFinish(sims[0]->ReceivedFrames()), 4);
  const auto history = History();
  ASSERT_EQ(history.size(), 3);
  EXPECT_EQ(history[0]["result"].toString(), "failed");
  EXPECT_EQ(history[0]["reason"].toString(), "did not come back");

  // Without the check the run ends with DownloadFinish.
  sims[1]->ClearReceived();
  const Finished nv = Batch({"--no-verify", "--port", Port(1), "--images", "encryption", image});
  EXPECT_EQ(nv.exitCode, 0) << nv.out.toStdString();
  EXPECT_EQ(Commands(sims[1]->ReceivedFrames()).back(), "50 03");
  EXPECT_TRUE(History().back()["came_back_s"].isNull());
}

TEST_F(ProductionLine, WatchTakesUnitAfterUnitAndEndsWithItsSummaryOnCtrlC) {
  // Port 0 starts empty; port 1 has no adapter for the whole run.
  QProcess* p = Launch({"--watch", "--port", Port(0), "--port", Port(1), "--images", "encryption",
                        "--report", report, image});
  const bvsim::Config a = Unit("SN-A"), b = Unit("SN-B");

  // A unit plugged in: identified, updated, checked, one line.
  AddSim(a);  // sims[0] behind port 0
  ASSERT_TRUE(WaitForOutput(p, Port(0) + "  SN-A  ok  ")) << seen.toStdString();
  EXPECT_EQ(BlockAddresses(sims[0]->ReceivedFrames()).size(), 32u);
  Unplug(0);

  // A second unit on the same port, once the first is gone.
  sims.push_back(std::make_unique<bvsim::Simulator>(b));
  ASSERT_TRUE(sims[1]->Start());
  Link(0, 1);
  ASSERT_TRUE(WaitForOutput(p, Port(0) + "  SN-B  ok  ")) << seen.toStdString();
  EXPECT_EQ(BlockAddresses(sims[1]->ReceivedFrames()).size(), 32u);

  // Taken from an adapter that stays: gone once it has not answered for three seconds. Put
  // back after that, it is a unit plugged in again.
  sims[1]->SetSilent(true);
  sims[1]->ClearReceived();
  // Unanswered Polls, one a second: by the sixth it was given up for gone three seconds ago.
  ASSERT_TRUE(sims[1]->WaitForFrames(6, std::chrono::seconds(60)));
  sims[1]->SetSilent(false);
  ASSERT_TRUE(WaitForOutput(p, Port(0) + "  SN-B  already done  ")) << seen.toStdString();
  EXPECT_TRUE(BlockAddresses(sims[1]->ReceivedFrames()).empty());
  Unplug(0, 1);

  // The first unit again, by mistake: already done, not written again.
  sims[0]->ClearReceived();
  ASSERT_TRUE(sims[0]->Start());
  Link(0, 0);
  ASSERT_TRUE(WaitForOutput(p, Port(0) + "  SN-A  already done  ")) << seen.toStdString();
  EXPECT_TRUE(BlockAddresses(sims[0]->ReceivedFrames()).empty());

  ::kill(static_cast<pid_t>(p->processId()), SIGINT);
  const Finished f = Wait(p);
  EXPECT_EQ(f.exitCode, 0) << f.out.toStdString() << f.err.toStdString();
  EXPECT_TRUE(f.out.contains(QRegularExpression("PORT +UNITS +OK +FAILED +ALREADY DONE\n")))
      << f.out.toStdString();
  EXPECT_TRUE(
      f.out.contains(QRegularExpression(QRegularExpression::escape(Port(0)) + " +4 +2 +0 +2\n")))
      << f.out.toStdString();
  EXPECT_TRUE(
      f.out.contains(QRegularExpression(QRegularExpression::escape(Port(1)) + " +0 +0 +0 +0\n")))
      << f.out.toStdString();
  EXPECT_TRUE(f.out.contains(QRegularExpression(
      "4 units: 2 ok, 0 failed, 2 already done in [0-9]+ s; [0-9.]+ units per hour\n")))
      << f.out.toStdString();

  // One history line per unit, in the order they were done.
  const auto history = History();
  ASSERT_EQ(history.size(), 4);
  const QStringList serials = {"SN-A", "SN-B", "SN-B", "SN-A"};
  const QStringList results = {"ok", "ok", "already done", "already done"};
  for (qsizetype i = 0; i < 4; ++i) {
    EXPECT_EQ(history[i]["serial_number"].toString(), serials[i]);
    EXPECT_EQ(history[i]["result"].toString(), results[i]);
    EXPECT_EQ(history[i]["port"].toString(), Port(0));
  }
  EXPECT_TRUE(history[3]["outcome"].toArray().isEmpty());
  const QJsonArray units = ReadReport()["units"].toArray();
  ASSERT_EQ(units.size(), 4);
  EXPECT_EQ(units[3].toObject()["result"].toString(), "already done");
}

TEST_F(ProductionLine, AFailedUnitInWatchMakesTheExitStatusOne) {
  QProcess* p = Launch({"--watch", "--port", Port(0), "--images", "encryption", image});
  AddSim(Unit("SN-BAD")).InjectFault(RefusedBlock(0xB300, 0x30));
  ASSERT_TRUE(WaitForOutput(
      p, Port(0) + "  SN-BAD  failed (Encryption failed at block 0x0B300: refused with code 30)"))
      << seen.toStdString();
  ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
  const Finished f = Wait(p);
  EXPECT_EQ(f.exitCode, 1);
  EXPECT_TRUE(f.out.contains("1 units: 0 ok, 1 failed, 0 already done")) << f.out.toStdString();
}

TEST_F(ProductionLine, HistoryReadsBackAsTableOrCsvForOneSerialSkippingDamagedLines) {
  AddSim(Unit("SN-0001"));
  AddSim(Unit("=SUM(A1)"));  // a serial number that a spreadsheet would take for a formula
  ASSERT_EQ(Batch(Args()).exitCode, 0);
  sims[0]->ClearReceived();
  ASSERT_EQ(Batch(Args()).exitCode, 0);
  // A line cut short by a crash, and one of something else.
  {
    std::ofstream h((dataHome + "/Velkup/history.jsonl").toStdString(), std::ios::app);
    h << "{\"time\":\"2026-12-10T10:00:00.000Z\",\"port\":\n";
    h << "[1, 2, 3]\n";
  }

  const Finished table = Batch({"--history"});
  EXPECT_EQ(table.exitCode, 0);
  QStringList lines = table.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 5) << table.out.toStdString();
  EXPECT_TRUE(lines[0].startsWith("TIME ")) << lines[0].toStdString();
  EXPECT_EQ(lines
                .filter(QRegularExpression("UTC  " + QRegularExpression::escape(Port(0)) +
                                           "  SN-0001 +ZBV-700-USA +ok +[0-9.]+ s "))
                .size(),
            2)
      << table.out.toStdString();
  EXPECT_EQ(table.err, QString("velkup-batch: warning: %1 line 5 is damaged; skipped\n"
                               "velkup-batch: warning: %1 line 6 is damaged; skipped\n")
                           .arg(dataHome + "/Velkup/history.jsonl"));

  const Finished one = Batch({"--history", "--serial", "SN-0001", "--csv"});
  EXPECT_EQ(one.exitCode, 0);
  lines = one.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3) << one.out.toStdString();
  EXPECT_TRUE(lines[0].startsWith("time,program,port,family,baud,serial_number,part_number,"));
  for (int i = 1; i < 3; ++i) {
    const QStringList fields = lines[i].split(',');
    ASSERT_EQ(fields.size(), 16) << lines[i].toStdString();
    EXPECT_EQ(fields[2], Port(0));
    EXPECT_EQ(fields[5], "SN-0001");
    EXPECT_EQ(fields[9], "ok");
    EXPECT_EQ(fields[14], Sha256Of(image));
  }
  EXPECT_LT(lines[1].section(',', 0, 0), lines[2].section(',', 0, 0));  // newest last

  const Finished formula = Batch({"--history", "--csv", "--serial", "=SUM(A1)"});
  lines = formula.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3) << formula.out.toStdString();
  EXPECT_EQ(lines[1].section(',', 5, 5), "'=SUM(A1)");

  EXPECT_EQ(Batch({"--history", "--serial", "nobody"}).out.split('\n', Qt::SkipEmptyParts).size(),
            1);
  EXPECT_EQ(Batch({"--history", "--port", Port(0)}).exitCode, 2);
}

}  // namespace
