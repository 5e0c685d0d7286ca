// The update sequence over TCommDrv and a real pty, against a small scripted validator: the
// preparation branches, the mode switch, refused blocks, bad image files, the frame address with
// no family selected, stopping on request.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <memory>
#include <set>

#include "HexText.h"
#include "ScriptedValidator.h"
#include "UpdateSequence.h"

namespace {

constexpr uint8_t kSilent = 0xFF;

// Answers Polls with the given states in turn (the last one repeats; kSilent answers nothing),
// refuses the blocks at the given addresses with 0x30, accepts every other block with 0xE0 and
// answers every other request with a status byte.
ScriptedValidator::Responder Validator(std::vector<uint8_t> polls, std::set<uint32_t> refuse = {}) {
  auto next = std::make_shared<size_t>(0);
  return [=](const Bytes& f) -> std::optional<Bytes> {
    switch (Command(f)) {
      case 0x00:
        return std::nullopt;
      case 0x33: {
        const uint8_t s = polls[std::min(*next, polls.size() - 1)];
        ++*next;
        if (s == kSilent) return std::nullopt;
        return Bytes{s};
      }
      case 0x50:
        if (IsBlock(f)) return Bytes{uint8_t(refuse.count(BlockAddress(f)) ? 0x30 : 0xE0)};
        return Bytes{0x08};
      default:
        return Bytes{0x19};
    }
  };
}

// The frames as their commands: "33", "00", "30", "34", "50", "50 00", "50 01", "B" for a block,
// "50 03".
std::vector<std::string> Commands(const std::vector<Bytes>& frames) {
  std::vector<std::string> out;
  for (const Bytes& f : frames) {
    char text[8];
    if (IsBlock(f))
      out.push_back("B");
    else if (f.size() == 7)
      std::snprintf(text, sizeof text, "%02X %02X", f[3], f[4]), out.push_back(text);
    else
      std::snprintf(text, sizeof text, "%02X", f[3]), out.push_back(text);
  }
  return out;
}

using Cmds = std::vector<std::string>;

struct SequenceRun : ::testing::Test {
  QTemporaryDir dir;
  QObject owner;
  TCommDrv* drv = new TCommDrv(&owner);
  TImageMemory memory;
  QStringList statuses;
  std::vector<bool> startEnabled;
  QStringList errors;
  int bvType = 1;
  std::set<TImage> checked;
  std::function<void()> onEvents = [] {};
  std::unique_ptr<TUpdateSequence> seq;
  std::string file = dir.filePath("image.vkf").toStdString();

  void SetUp() override {
    drv->SetPollingDelay(500);
    TUpdateSequence::TView view;
    view.SetStatus = [this](const QString& s) { statuses << s; };
    view.SetStartEnabled = [this](bool on) { startEnabled.push_back(on); };
    view.BVTypeIndex = [this] { return bvType; };
    view.ImageChecked = [this](TImage i) { return checked.count(i) > 0; };
    view.ProcessEvents = [this] { onEvents(); };
    view.ShowError = [this](const QString& s) { errors << s; };
    seq = std::make_unique<TUpdateSequence>(*drv, memory, std::move(view));
    std::ofstream(file) << HexImage(0xB000, 0xB200) << ":00000001FF\n";
  }
  void TearDown() override { qunsetenv("ZELNET_COM7"); }

  TRunOutcome Run(ScriptedValidator& v) {
    qputenv("ZELNET_COM7", QByteArray::fromStdString(v.SlavePath()));
    TUpdateOptions o;
    o.comPortIndex = 6;
    o.baudRateIndex = 1;
    o.fileName = QString::fromStdString(file);
    return seq->Run(o);
  }
};

}  // namespace

TEST_F(SequenceRun, PowerUpIsResetAndPolledThroughInitialize) {
  ScriptedValidator v(Validator({0x10, 0x13, 0x13, 0x19}));
  EXPECT_EQ(Run(v), TRunOutcome::Ready);
  EXPECT_EQ(Commands(v.Frames()), (Cmds{"33", "00", "30", "33", "00", "33", "00", "33", "00", "50",
                                        "50 00", "50 01", "50 03"}));
  EXPECT_EQ(statuses,
            (QStringList{"Wait... Reseting Device", "Wait... Switching To Update Mode", "Ready"}));
  EXPECT_EQ(startEnabled, (std::vector<bool>{false, true}));
  EXPECT_FALSE(drv->Connected());
  EXPECT_EQ(drv->Baud(), 19200u);
  EXPECT_EQ(drv->PortName(), "COM7");
}

TEST_F(SequenceRun, IdlingIsDisabledAndPolledUntilItStops) {
  ScriptedValidator v(Validator({0x14, 0x14, 0x19}));
  EXPECT_EQ(Run(v), TRunOutcome::Ready);
  const auto frames = v.Frames();
  EXPECT_EQ(Commands(frames),
            (Cmds{"33", "00", "34", "33", "00", "33", "00", "50", "50 00", "50 01", "50 03"}));
  EXPECT_EQ(frames[2], ScriptedValidator::Frame(3, {0x34, 0, 0, 0, 0, 0, 0}));
}

TEST_F(SequenceRun, AnyOtherFirstStateOrNoAnswerNeedsNoPreparation) {
  {
    ScriptedValidator v(Validator({0x19}));
    Run(v);
    EXPECT_EQ(Commands(v.Frames()), (Cmds{"33", "00", "50", "50 00", "50 01", "50 03"}));
  }
  // A first Poll without an answer is no state: the Poll frame's own bytes in the exchange
  // buffer decide nothing.
  drv->InputTimeout = 300;
  ScriptedValidator v(Validator({kSilent, 0x10}));
  Run(v);
  EXPECT_EQ(Commands(v.Frames()), (Cmds{"33", "00", "50", "50 00", "50 01", "50 03"}));
}

TEST_F(SequenceRun, PreparationEndsWhenTheValidatorFallsSilentOrNeverSettles) {
  drv->InputTimeout = 300;
  {
    // Silent after Initialize: the old answer is not read again.
    ScriptedValidator v(Validator({0x10, 0x13, kSilent}));
    Run(v);
    EXPECT_EQ(Commands(v.Frames()),
              (Cmds{"33", "00", "30", "33", "00", "33", "00", "50", "50 00", "50 01", "50 03"}));
  }
  // Initialize for ever: the polling stops at the bound and the run goes on.
  seq->prepareLimitMs = 1000;
  ScriptedValidator v(Validator({0x10, 0x13}));
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(Run(v), TRunOutcome::Ready);
  const auto cmds = Commands(v.Frames());
  EXPECT_GE(std::count(cmds.begin(), cmds.end(), "33"), 4);
  EXPECT_EQ(Cmds(cmds.end() - 4, cmds.end()), (Cmds{"50", "50 00", "50 01", "50 03"}));
  EXPECT_LT(t.elapsed(), 30000);
}

TEST_F(SequenceRun, ShortAnswersEndTheirReadsWithoutWaitingForTheTimeOut) {
  // Poll answers of 6 bytes where up to 8 are read: each read ends with its frame.
  ScriptedValidator v(Validator({0x14, 0x19}));
  checked = {TImage::Encryption};
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(Run(v), TRunOutcome::Ready);
  EXPECT_LT(t.elapsed(), drv->InputTimeout);
}

TEST_F(SequenceRun, ARefusedBlockAbandonsItsImageAndTheNextIsStillWritten) {
  ScriptedValidator v(Validator({0x19}, {0xB100}));
  checked = {TImage::Encryption, TImage::BVControl};
  EXPECT_EQ(Run(v), TRunOutcome::ImageFailed);
  std::vector<uint32_t> blocks;
  for (const Bytes& f : v.Frames())
    if (IsBlock(f)) blocks.push_back(BlockAddress(f));
  ASSERT_EQ(blocks.size(), 2u + 224u);
  EXPECT_EQ(blocks[0], 0xB000u);
  EXPECT_EQ(blocks[1], 0xB100u);
  EXPECT_EQ(blocks[2], 0xD000u);
  EXPECT_EQ(blocks.back(), 0x1AF00u);
  EXPECT_EQ(Commands(v.Frames()).back(), "50 03");

  // Percentages, the failure text, and the failure staying visible at the end.
  const int fail = static_cast<int>(statuses.indexOf("Error write data..."));
  ASSERT_GT(fail, 0);
  EXPECT_EQ(statuses[fail - 2], "Wait... Writing Encryption Image Data: 0%");
  EXPECT_EQ(statuses[fail - 1], "Wait... Writing Encryption Image Data: 4%");
  EXPECT_EQ(statuses[fail + 1], "Wait... Writing BV Control Image Data: 0%");
  EXPECT_EQ(statuses[fail + 224], "Wait... Writing BV Control Image Data: 100%");
  EXPECT_EQ(statuses.back(), "Error write data...");
  EXPECT_FALSE(statuses.contains("Ready"));
  // Start stays disabled from the failure to the end of the run.
  EXPECT_EQ(startEnabled, (std::vector<bool>{false, true}));
  EXPECT_FALSE(drv->Connected());
}

TEST_F(SequenceRun, ABadImageFileSendsNothing) {
  ScriptedValidator v(Validator({0x19}));
  checked = {TImage::Encryption};
  std::ofstream(file) << HexImage(0xB000, 0xB040) << ":10B04000FFFF\n" << HexImage(0xB100, 0xB200);
  EXPECT_EQ(Run(v), TRunOutcome::FileError);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains(QString::fromStdString(file))) << errors[0].toStdString();
  EXPECT_TRUE(errors[0].contains("line 7")) << errors[0].toStdString();
  EXPECT_EQ(statuses.back(), "Ready");
  EXPECT_EQ(startEnabled.back(), true);

  file = dir.filePath("missing.vkf").toStdString();
  errors.clear();
  EXPECT_EQ(Run(v), TRunOutcome::FileError);
  EXPECT_EQ(errors, QStringList{QString::fromStdString("Cannot open file " + file)});
  QTest::qWait(200);
  EXPECT_TRUE(v.Frames().empty());
  EXPECT_FALSE(drv->Connected());
}

TEST_F(SequenceRun, WithoutAFamilyTheAddressIsThatOfTheLastFrameSent) {
  ScriptedValidator v(Validator({0x19}));
  bvType = -1;
  // Stray bytes reach the frame buffer between exchanges; none of them becomes an address.
  onEvents = [&] {
    v.Inject({0x02, 0x77, 0x06, 0x11, 0x22, 0x33});
    QTest::qWait(30);
  };
  drv->SetPollingDelay(5);
  Run(v);
  for (const Bytes& f : v.Frames()) EXPECT_EQ(f[1], 0x00);

  bvType = 0;
  Run(v);
  EXPECT_EQ(v.Frames().back()[1], 0x01);
  bvType = -1;
  const size_t before = v.Frames().size();
  Run(v);
  const auto frames = v.Frames();
  for (size_t i = before; i < frames.size(); ++i) EXPECT_EQ(frames[i][1], 0x01);
}

TEST_F(SequenceRun, APortThatCannotOpenFailsEveryCheckedImage) {
  qputenv("ZELNET_COM7", "/nonexistent/tty");
  checked = {TImage::Encryption, TImage::Validation};
  TUpdateOptions o;
  o.comPortIndex = 6;
  o.fileName = QString::fromStdString(file);
  EXPECT_EQ(seq->Run(o), TRunOutcome::ImageFailed);
  EXPECT_EQ(statuses.count("Error write data..."), 3);  // two images, and at the end
  EXPECT_EQ(statuses.back(), "Error write data...");
  EXPECT_EQ(drv->Baud(), 9600u);
}

TEST_F(SequenceRun, StopRequestEndsTheRunAfterTheBlockInFlight) {
  ScriptedValidator v(Validator({0x19}));
  checked = {TImage::BVControl};
  int blocks = 0;
  onEvents = [&] {
    if (statuses.back().startsWith("Wait... Writing") && ++blocks == 5) seq->RequestStop();
  };
  EXPECT_EQ(Run(v), TRunOutcome::Stopped);
  QTest::qWait(100);
  const auto cmds = Commands(v.Frames());
  EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "B"), 5);
  EXPECT_EQ(cmds.back(), "B");  // no finish after a stop
  EXPECT_FALSE(drv->Connected());
  EXPECT_FALSE(seq->Running());
}
