// The update sequence alone, over TCommDrv and bvsim on a pty: the preparation by the first
// Poll's state and its bounds, reads that end with their frame, bad image files, the frame
// address with no family selected, a port that cannot open, stopping on request.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>
#include <set>

#include "HexWriter.h"
#include "SimOnPort.h"
#include "SimSupport.h"
#include "UpdateSequence.h"

using namespace velkup;

using zelnet::test::HexImage;

using namespace velkup::test;

namespace {

struct SequenceRun : ::testing::Test {
  std::unique_ptr<zelnet::test::SimOnPort> simPort;
  bvsim::Simulator* sim = nullptr;
  QObject owner;
  TCommDrv* drv = new TCommDrv(&owner);
  QTemporaryDir dir;
  QStringList statuses;
  std::vector<bool> startEnabled;
  std::vector<TPhase> phases;
  QStringList errors;
  int bvType = 1;
  std::set<TImage> checked;
  std::function<void()> onEvents = [] {};
  std::unique_ptr<TUpdateSequence> seq;
  std::string file = dir.filePath("image.vkf").toStdString();

  virtual bvsim::Config Config() { return VelkupValidator(); }

  void SetUp() override {
    simPort = std::make_unique<zelnet::test::SimOnPort>(Config(), std::vector<int>{7});
    ASSERT_TRUE(simPort->Started());
    sim = &simPort->sim;
    drv->SetPollingDelay(500);
    TUpdateSequence::TView view;
    view.SetStatus = [this](const QString& s) { statuses << s; };
    view.SetStartEnabled = [this](bool on) { startEnabled.push_back(on); };
    view.BVTypeIndex = [this] { return bvType; };
    view.ImageChecked = [this](TImage i) { return checked.count(i) > 0; };
    view.ProcessEvents = [this] {
      QCoreApplication::processEvents();
      onEvents();
    };
    view.ShowError = [this](const QString& s) { errors << s; };
    view.PhaseChanged = [this](TPhase p) {
      EXPECT_EQ(seq->Phase(), p);
      phases.push_back(p);
    };
    seq = std::make_unique<TUpdateSequence>(*drv, std::move(view));
    std::ofstream(file) << HexImage(0xB000, 0xB200);
  }

  TRunOutcome Run() {
    TUpdateOptions o;
    o.comPortIndex = 6;
    o.baudRateIndex = 1;
    o.fileName = QString::fromStdString(file);
    return seq->Run(o);
  }
  Cmds RunCommands() {
    sim->ClearReceived();
    Run();
    return Commands(sim->ReceivedFrames());
  }
};

bvsim::Fault SilentPolls(int skip, int count) {
  bvsim::Fault f;
  f.kind = bvsim::Fault::Silent;
  f.command = 0x33;
  f.skip = skip;
  f.count = count;
  return f;
}

}  // namespace

TEST_F(SequenceRun, PreparationFollowsTheFirstPollsState) {
  // Power Up: one Reset, then Polls while it initialises (three Initialize answers, then
  // Unit Disabled).
  EXPECT_EQ(RunCommands(), (Cmds{"33", "00", "30", "33", "00", "33", "00", "33", "00", "33", "00",
                                 "50", "50 00", "50 01", "50 03"}));
  EXPECT_EQ(statuses,
            (QStringList{"Wait... Reseting Device", "Wait... Switching To Update Mode", "Ready"}));
  EXPECT_EQ(startEnabled, (std::vector<bool>{false, true}));
  EXPECT_EQ(phases, (std::vector{TPhase::Loading, TPhase::Preparing, TPhase::SwitchingToUpdateMode,
                                 TPhase::Writing, TPhase::Finishing, TPhase::Ended}));
  EXPECT_FALSE(drv->Connected());
  EXPECT_EQ(drv->Baud(), 19200u);
  EXPECT_EQ(drv->PortName(), "COM7");

  // Idling twice more, then Unit Disabled: all bill types off, then Polls until it stops idling.
  sim->ScriptPollAnswers({{0x14}, {0x14}, {0x14}, {0x19}});
  EXPECT_EQ(RunCommands(), (Cmds{"33", "00", "34", "33", "00", "33", "00", "33", "00", "50",
                                 "50 00", "50 01", "50 03"}));
  EXPECT_EQ(sim->ReceivedFrames()[2].bytes,
            (Bytes{0x02, 0x03, 0x0C, 0x34, 0, 0, 0, 0, 0, 0, 0x17, 0x0C}));

  // Unit Disabled at once: nothing to prepare.
  sim->ScriptPollAnswers({{0x19}});
  EXPECT_EQ(RunCommands(), (Cmds{"33", "00", "50", "50 00", "50 01", "50 03"}));
}

TEST_F(SequenceRun, AnUnansweredPollDecidesNothing) {
  drv->InputTimeout = 300;
  // No answer to the first Poll (the validator would say Power Up): no state, no preparation.
  sim->InjectFault(SilentPolls(0, 1));
  EXPECT_EQ(RunCommands(), (Cmds{"33", "00", "50", "50 00", "50 01", "50 03"}));

  // Silent after one Initialize: the loop does not go on reading that old answer.
  sim->ClearFaults();
  sim->PowerCycle(0x10);
  sim->InjectFault(SilentPolls(2, bvsim::kForever));
  EXPECT_EQ(RunCommands(),
            (Cmds{"33", "00", "30", "33", "00", "33", "00", "50", "50 00", "50 01", "50 03"}));
}

struct NeverSettles : SequenceRun {
  bvsim::Config Config() override {
    bvsim::Config c = VelkupValidator();
    c.initPolls = 1'000'000;
    return c;
  }
};

TEST_F(NeverSettles, PreparationGivesUpAtItsBoundAndGoesOn) {
  // The validator initialises for ever: after a minute of Polls the sequence goes on.
  const Cmds cmds = RunCommands();
  EXPECT_GE(std::count(cmds.begin(), cmds.end(), "33"), 4);
  EXPECT_EQ(Cmds(cmds.end() - 4, cmds.end()), (Cmds{"50", "50 00", "50 01", "50 03"}));
  EXPECT_EQ(statuses.back(), "Ready");
}

TEST_F(SequenceRun, ReadsEndWithTheirFrameInsteadOfTheTimeOut) {
  // Poll answers of 6 bytes where up to 8 are read, and 6-byte block answers: with an inactivity
  // time-out of ten minutes, a read that waited for it would never let the run end in time.
  drv->InputTimeout = 600000;
  checked = {TImage::Encryption};
  sim->ScriptPollAnswers({{0x19}});
  EXPECT_EQ(Run(), TRunOutcome::Ready);
  EXPECT_EQ(BlockAddresses(sim->ReceivedFrames()).size(), 32u);
}

TEST_F(SequenceRun, ABadImageFileSendsNothing) {
  checked = {TImage::Encryption};
  std::ofstream(file) << HexImage(0xB000, 0xB040) << ":10B04000FFFF\n" << HexImage(0xB100, 0xB200);
  EXPECT_EQ(Run(), TRunOutcome::FileError);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_EQ(errors[0].toStdString(),
            "The image file " + file +
                " is damaged at line 7: the line's checksum is wrong. Nothing was sent.");
  EXPECT_EQ(statuses, (QStringList{"Wait... Reseting Device", "Ready"}));
  EXPECT_EQ(startEnabled, (std::vector<bool>{false, true}));
  EXPECT_EQ(phases, (std::vector{TPhase::Loading, TPhase::Ended}));

  const std::string good = file;
  file = dir.filePath("missing.vkf").toStdString();
  errors.clear();
  EXPECT_EQ(Run(), TRunOutcome::FileError);
  EXPECT_EQ(errors, QStringList{QString::fromStdString("Cannot open file " + file)});

  // Files that are no image are refused at once, without a byte read from them.
  const std::string fifo = dir.filePath("fifo.vkf").toStdString();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& special : {std::string("/dev/zero"), fifo}) {
    file = special;
    errors.clear();
    EXPECT_EQ(Run(), TRunOutcome::FileError);
    EXPECT_EQ(errors, QStringList{QString::fromStdString(
                          "The image file " + file + " is not a regular file. Nothing was sent.")});
  }
  EXPECT_FALSE(drv->Connected());

  // None of them sent a byte: the simulator's record starts with the next good run's first Poll.
  file = good;
  std::ofstream(file) << HexImage(0xB000, 0xB200);
  sim->ScriptPollAnswers({{0x19}});
  EXPECT_EQ(Run(), TRunOutcome::Ready);
  const Cmds cmds = Commands(sim->ReceivedFrames());
  ASSERT_FALSE(cmds.empty());
  EXPECT_EQ(Cmds(cmds.begin(), cmds.begin() + 3), (Cmds{"33", "00", "50"}));
  EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "50 02"), 32);
}

TEST_F(SequenceRun, WithoutAFamilyTheAddressIsThatOfTheLastFrameSent) {
  drv->InputTimeout = 200;  // address 0 is nobody's: nothing answers
  drv->SetPollingDelay(5);
  bvType = -1;
  EXPECT_EQ(RunCommands().size(), 6u);
  for (const auto& f : sim->ReceivedFrames()) EXPECT_EQ(f.Address(), 0x00);

  bvType = 0;
  Run();
  // Every Poll answer now brings a stray frame behind it, which the polling timer collects into
  // the frame buffer; none of its bytes becomes an address.
  sim->ScriptRawAnswer(0x33, {0x02, 0x01, 0x06, 0x19, 0x00, 0x00, 0x02, 0x77, 0x06, 0x11, 0x22},
                       1000);
  onEvents = [] { QTest::qWait(20); };
  bvType = -1;
  sim->ClearReceived();
  Run();
  const auto frames = sim->ReceivedFrames();
  ASSERT_FALSE(frames.empty());
  for (const auto& f : frames) EXPECT_EQ(f.Address(), 0x01);
}

TEST_F(SequenceRun, APortThatCannotOpenFailsEveryCheckedImage) {
  simPort->names.Set(7, "/nonexistent/tty");
  checked = {TImage::Encryption, TImage::Validation};
  TUpdateOptions o;
  o.comPortIndex = 6;
  o.fileName = QString::fromStdString(file);
  EXPECT_EQ(seq->Run(o), TRunOutcome::ImageFailed);
  EXPECT_EQ(statuses.count("Error write data..."), 3);  // two images, and at the end
  EXPECT_EQ(statuses.back(), "Error write data...");
  EXPECT_EQ(startEnabled, (std::vector<bool>{false, true}));
  EXPECT_EQ(drv->Baud(), 9600u);
}

TEST_F(SequenceRun, AStopRequestEndsTheRunAfterTheBlockInFlight) {
  checked = {TImage::BVControl};
  sim->ScriptPollAnswers({{0x19}});
  int blocks = 0;
  onEvents = [&] {
    if (statuses.back().startsWith("Wait... Writing") && ++blocks == 5) seq->RequestStop();
  };
  EXPECT_EQ(Run(), TRunOutcome::Stopped);
  EXPECT_EQ(phases.back(), TPhase::Ended);
  EXPECT_EQ(phases.end()[-2], TPhase::Writing);
  EXPECT_FALSE(drv->Connected());
  EXPECT_FALSE(seq->Running());

  // No finish after a stop: up to the next run's first Poll, the fifth block was the last frame.
  onEvents = [] {};
  checked = {};
  Run();
  const Cmds cmds = Commands(sim->ReceivedFrames());
  const auto finish = std::find(cmds.begin(), cmds.end(), "50 03");
  ASSERT_NE(finish, cmds.end());
  EXPECT_EQ(std::count(cmds.begin(), finish, "50 02"), 5);
  const auto lastBlock = std::find(cmds.rbegin(), cmds.rend(), "50 02");
  ASSERT_NE(lastBlock, cmds.rend());
  EXPECT_EQ(*(lastBlock.base()), "33");
}
