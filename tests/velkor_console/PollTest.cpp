// The poll loop: Start Poll follows the validator through power-up, initialisation, idling and
// bills to escrow, stack or return, writing each change into the log; Stop Poll and closing the
// window. (Silence and time-outs are followed against bvsim in SimulatorTest.cpp.)
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ConsoleRig.h"

using namespace velkor::test;
using velkor::TMainForm;

namespace {

std::vector<Bytes> FramesSince(const ScriptedValidator& validator, size_t from) {
  const auto all = validator.Frames();
  return std::vector<Bytes>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
}

std::vector<uint8_t> CodesOf(const std::vector<Bytes>& frames) {
  std::vector<uint8_t> codes;
  for (const Bytes& f : frames) codes.push_back(f.size() > 3 ? f[3] : 0xFF);
  return codes;
}

size_t CountOf(const std::vector<uint8_t>& codes, uint8_t code) {
  return static_cast<size_t>(std::count(codes.begin(), codes.end(), code));
}

// Drops the tail of Poll/ACK pairs of an idling validator.
std::vector<uint8_t> WithoutIdleTail(std::vector<uint8_t> codes) {
  while (codes.size() >= 2 && codes[codes.size() - 2] == 0x33 && codes.back() == 0x00) {
    codes.resize(codes.size() - 2);
  }
  return codes;
}

}  // namespace

TEST(PollLoop, FollowsAnEscrowLineByLineAndLocksTheControlsMeanwhile) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  TMainForm& form = *console.form;
  Click(console.Button("BtnGetDescription"));  // the bill names

  validator.QueuePolls({{0x14}, {0x80, 0x02}, {0x80, 0x02}});
  std::map<QString, bool> during;
  When look([&] { return validator.QueuedPolls() <= 2; },  // the loop has polled once
            [&] {
              for (const char* name :
                   {"BtnGetStatus", "BtnStartPoll", "BtnPoll", "BtnResetSoft", "BtnResetHard",
                    "BtnExit", "Button2", "Button1", "BtnDownload", "BtnReqStat", "EditEnBillByte1",
                    "EditSecurityByte3", "CmbBoxRate", "BtnStopPoll", "CmbBoxPoll",
                    "CmbBoxLenghtBarCode", "CheckBox1", "SpBtnHelp", "SpBtnAbout"}) {
                const QWidget* w = Control<QWidget>(form, name);
                during[w->objectName()] = w->isEnabled();
              }
            });
  const int before = console.LineCount();
  const size_t framesBefore = validator.Frames().size();
  RunPollLoop(form, [&] { return console.LinesSince(before).count("* Idling") >= 2; });

  EXPECT_EQ(console.LinesSince(before),
            (QStringList{kSep, "The Reset-soft is executed successfully!",  // the loop's Reset
                         kSep, "* Idling",                                  // status changed
                         kSep, "* Escrow - 50-USA",                         // status changed
                         kSep, "The Return-command is executed",  // 0x00 differs from 0x14
                         kSep, "The Return-command is executed",  // escrow again: Return again
                         kSep, "* Idling"}));
  const std::vector<uint8_t> codes = CodesOf(FramesSince(validator, framesBefore));
  EXPECT_EQ(WithoutIdleTail(codes),
            (std::vector<uint8_t>{0x30, 0x33, 0x00, 0x33, 0x00, 0x36, 0x33, 0x00, 0x36}));
  EXPECT_EQ(FramesSince(validator, framesBefore)[2], frames::kAck);

  for (const char* locked : {"BtnGetStatus", "BtnStartPoll", "BtnPoll", "BtnResetSoft",
                             "BtnResetHard", "BtnExit", "Button2", "Button1", "BtnDownload",
                             "BtnReqStat", "EditEnBillByte1", "EditSecurityByte3", "CmbBoxRate"}) {
    EXPECT_FALSE(during[locked]) << locked;
  }
  for (const char* open : {"BtnStopPoll", "CmbBoxPoll", "CmbBoxLenghtBarCode", "CheckBox1",
                           "SpBtnHelp", "SpBtnAbout"}) {
    EXPECT_TRUE(during[open]) << open;
  }
  for (const char* name :
       {"BtnGetStatus", "BtnStartPoll", "BtnResetSoft", "BtnExit", "CmbBoxRate"}) {
    const QWidget* w = Control<QWidget>(form, name);
    EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  }
  // The loop recorded the last status it saw: a single Poll with it writes no separator.
  validator.SetStatus(0x14);
  const int beforePoll = console.LineCount();
  Click(console.Button("BtnPoll"));
  EXPECT_EQ(console.LinesSince(beforePoll), QStringList{"* Idling"});

  // The escrow action can change while polling: the next escrow is stacked.
  validator.QueuePolls({{0x80, 0x05}});
  const size_t secondStart = validator.Frames().size();
  When switchToStack(
      [&] { return CountOf(CodesOf(FramesSince(validator, secondStart)), 0x36) >= 1; },
      [&] {
        Control<QComboBox>(form, "CmbBoxPoll")->setCurrentIndex(1);
        validator.QueuePolls({{0x14}, {0x80, 0x05}});
      });
  RunPollLoop(form,
              [&] { return CountOf(CodesOf(FramesSince(validator, secondStart)), 0x35) >= 1; });
  const std::vector<uint8_t> second = CodesOf(FramesSince(validator, secondStart));
  const auto returnAt = std::find(second.begin(), second.end(), 0x36);
  const auto stackAt = std::find(second.begin(), second.end(), 0x35);
  EXPECT_LT(returnAt, stackAt);
  EXPECT_EQ(CountOf(second, 0x36), 1u);
  EXPECT_EQ(CountOf(second, 0x35), 1u);
  EXPECT_EQ(console.LinesSince(0).count("* Escrow - 5-USA"), 2);
}

TEST(PollLoop, ResetsAfterPowerUpAndReadsIdentificationAndBillTableOncePerInitialisation) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  TMainForm& form = *console.form;
  validator.QueuePolls({{0x10}, {0x13}, {0x13}, {0x19}, {0x13}});
  const int before = console.LineCount();
  const size_t framesBefore = validator.Frames().size();
  RunPollLoop(form, [&] { return console.LinesSince(before).contains("* Idling"); });

  std::vector<uint8_t> requests;
  for (uint8_t code : CodesOf(FramesSince(validator, framesBefore))) {
    if (code != 0x00) requests.push_back(code);
  }
  while (!requests.empty() && requests.back() == 0x33) requests.pop_back();
  EXPECT_EQ(requests, (std::vector<uint8_t>{
                          0x30,                    // the loop's Reset
                          0x33, 0x30,              // power up: Reset
                          0x33, 0x41, 0x37, 0x41,  // initialising: probe, identification, table
                          0x33,                    // still initialising: nothing more
                          0x33, 0x34,              // disabled: enable the bill types
                          0x33, 0x41, 0x37, 0x41,  // initialising again: read again
                      }));
  const QStringList lines = console.LinesSince(before);
  EXPECT_EQ(lines.mid(0, 6),
            (QStringList{kSep, "The Reset-soft is executed successfully!", kSep, "* Power Up", kSep,
                         "The Reset-soft is executed successfully!"}));
  EXPECT_EQ(lines.count("* Initialize"), 2);
  EXPECT_EQ(lines.count("* Unit Disabled"), 1);
  EXPECT_EQ(lines.count("The Enable Bill Types-command is executed"), 1);
  EXPECT_EQ(lines.count("* Part Number - BV-ZEL-3000"), 2);
  EXPECT_EQ(lines.count("* 23- 100-EUR;   "), 2);
  EXPECT_EQ(lines.last(), "* Idling");
  // Enable Bill Types went out with the edits as they stood.
  for (const Bytes& frame : FramesSince(validator, framesBefore)) {
    if (frame[3] == 0x34) {
      EXPECT_EQ(frame, frames::kEnableAll);
    }
  }
}

TEST(PollLoop, ReadsTheBarcodeOfBillType23AndStopPollFinishesThePass) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  TMainForm& form = *console.form;
  Click(console.Button("BtnGetDescription"));
  Control<QComboBox>(form, "CmbBoxPoll")->setCurrentIndex(1);  // "Stack"

  validator.QueuePolls({{0x80, 0x17}, {0x81, 0x17}, {0x81, 0x17}});
  int before = console.LineCount();
  size_t framesBefore = validator.Frames().size();
  RunPollLoop(form, [&] { return console.LinesSince(before).contains("* Idling"); });
  EXPECT_EQ(
      console.LinesSince(before),
      (QStringList{kSep, "The Reset-soft is executed successfully!", kSep, "* Escrow - 100-EUR",
                   kSep, "BarCode: 123456789012345678;", "The Stack-command is executed", kSep,
                   "* Stacked - 100-EUR", kSep, "BarCode: 123456789012345678;", kSep, "* Idling"}));
  const std::vector<uint8_t> codes = CodesOf(FramesSince(validator, framesBefore));
  const std::vector<uint8_t> expected = {0x30, 0x33, 0x00, 0x3A, 0x35,  // escrow: barcode, stack
                                         0x33, 0x00, 0x3A,              // first stacked report
                                         0x33, 0x00};                   // second: nothing more
  ASSERT_GE(codes.size(), expected.size());
  EXPECT_EQ(std::vector<uint8_t>(codes.begin(), codes.begin() + 10), expected);
  EXPECT_TRUE(WithoutIdleTail(std::vector<uint8_t>(codes.begin() + 10, codes.end())).empty());

  // Stop Poll pressed in the middle of an escrow pass, while its Return waits for the answer:
  // the pass runs to its end and no further Poll goes out.
  Control<QComboBox>(form, "CmbBoxPoll")->setCurrentIndex(0);
  validator.SetStatus(0x80, 0x02);
  validator.SetAnswerDelay(0x36, 150);
  framesBefore = validator.Frames().size();
  bool lockedWhenStopped = false;
  When stop(
      [&] {
        const auto codes = CodesOf(FramesSince(validator, framesBefore));
        return CountOf(codes, 0x36) == 2 && codes.back() == 0x36;  // the Return's answer waits
      },
      [&] {
        Click(console.Button("BtnStopPoll"));
        lockedWhenStopped = !console.Button("BtnGetStatus")->isEnabled();
      });
  RunPollLoop(form, [] { return false; });
  ASSERT_TRUE(stop.Fired());
  EXPECT_TRUE(lockedWhenStopped);
  EXPECT_EQ(CodesOf(FramesSince(validator, framesBefore)),
            (std::vector<uint8_t>{0x30, 0x33, 0x00, 0x36, 0x33, 0x00, 0x36}));
  EXPECT_TRUE(console.Button("BtnGetStatus")->isEnabled());
}

TEST(PollLoop, ConfirmedCloseEndsTheLoopAndThenClosesTheWindow) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  TMainForm& form = *console.form;
  RecordingDialogs& dialogs = console.dialogs;
  const size_t framesBefore = validator.Frames().size();
  auto polls = [&] { return CountOf(CodesOf(FramesSince(validator, framesBefore)), 0x33); };

  bool stillPollingAfterCancel = false;
  size_t pollsAtConfirm = 0;
  bool closedAtConfirm = true;
  When cancel(
      [&] { return polls() >= 3; },
      [&] {
        dialogs.closeAnswer = false;
        form.close();
        Control<QCheckBox>(form, "CheckBox1")->setChecked(true);  // traces of the idle passes
      });
  When check([&] { return polls() >= 6; },
             [&] { stillPollingAfterCancel = !console.Button("BtnStartPoll")->isEnabled(); });
  When confirm([&] { return polls() >= 8; },
               [&] {
                 dialogs.closeAnswer = true;
                 closedAtConfirm = form.close();
                 pollsAtConfirm = polls();
               });
  const int before = console.LineCount();
  RunPollLoop(form, [] { return false; });

  EXPECT_EQ(dialogs.closeQueries, (QStringList{"Close the programm?", "Close the programm?"}));
  EXPECT_TRUE(stillPollingAfterCancel);
  EXPECT_FALSE(closedAtConfirm);  // the window waits for the loop to return
  EXPECT_EQ(polls(), pollsAtConfirm);
  // The loop has ended (the window closes below, which it does only then) and the close stays
  // confirmed (closing asks nothing more).
  EXPECT_FALSE(console.Button("BtnGetStatus")->isEnabled());  // a closing window is not unlocked
  EXPECT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }, 2000));
  EXPECT_EQ(dialogs.closeQueries.size(), 2);  // closing after the loop asks nothing more

  // With "Show Messages" the idle passes trace each Poll, its answer and the acknowledgement,
  // and add no status line.
  const QStringList lines = console.LinesSince(before);
  EXPECT_EQ(lines.count("* Idling"), 1);
  EXPECT_GE(lines.count("-> 02, 03, 06, 33, DA, 81, "), 2);
  EXPECT_GE(lines.count("<- 02, 03, 06, 14, 67, D4, "), 2);
  EXPECT_GE(lines.count("-> 02, 03, 06, 00, C2, 82, "), 2);
}
