// The search for the validator: the start-up bus reset with its RTS pulse, Bus Reset and Reset on
// an open port and without one, and the refusal of a search while an exchange waits.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "ConsoleRig.h"
#include "bvsim.h"

using namespace velkor::test;
using velkor::TMainForm;

namespace {

// The events of one port, in order.
std::vector<LineEvent> EventsOf(const LineRecorder& recorder, const std::string& path) {
  std::vector<LineEvent> events;
  for (const LineEvent& e : recorder.Events()) {
    if (e.path.toStdString() == path) events.push_back(e);
  }
  return events;
}

std::vector<LineEvent> EventsSince(const LineRecorder& recorder, size_t from) {
  const std::vector<LineEvent> events = recorder.Events();
  return {events.begin() + static_cast<std::ptrdiff_t>(from), events.end()};
}

QStringList What(const std::vector<LineEvent>& events) {
  QStringList what;
  for (const LineEvent& e : events) what << e.what;
  return what;
}

}  // namespace

TEST(StartUpSearch, FindsTheSimulatorOnCom3AfterAnAbsentAndASilentPortAndKeepsItOpen) {
  zelnet::test::PtyPeer silent;
  zelnet::test::SimOnPort simPort({}, {3});
  bvsim::Simulator& sim = simPort.sim;
  simPort.names.SetAll({"", silent.SlavePath(), sim.SlavePath()});
  RecordingDialogs dialogs;
  LineRecorder recorder;
  QElapsedTimer clock;
  clock.start();
  TMainForm form(TMainForm::Setup{&dialogs, recorder.Opener()});
  const qint64 elapsed = clock.elapsed();

  EXPECT_TRUE(dialogs.errorBoxes.isEmpty());
  // COM2 leaves one failure pair; COM3 answers (its status differs from 0: a separator), is
  // reported, and the single Poll that ends the search writes its status line.
  EXPECT_EQ(LogLines(form), (QStringList{kSep, "Time-out!", kSep, kSep, "Device has found on COM3!",
                                         kSep, "* Power Up"}));
  EXPECT_FALSE(form.isVisible());  // all of it happened before the window was shown
  EXPECT_EQ(sim.LineBaud(), 9600u);
  // Two bus resets of about 2.05 s each, plus COM1's 300 ms pause and COM2's time-out.
  EXPECT_GE(elapsed, 4300);

  // Each port that opened got its RTS pulse: low at open, high for about 50 ms, then about two
  // seconds for the validator to restart before the Poll.
  for (const std::string& path : {silent.SlavePath(), sim.SlavePath()}) {
    const auto events = EventsOf(recorder, path);
    const QStringList what = What(events);
    ASSERT_GE(what.size(), 5) << path;
    EXPECT_EQ(what.mid(0, 5), (QStringList{"open", "state rts 0", "rts 1", "rts 0", "write 33"}))
        << path;
    EXPECT_GE(events[3].ms - events[2].ms, 45);
    EXPECT_GE(events[4].ms - events[3].ms, 1950);
  }
  EXPECT_EQ(What(EventsOf(recorder, silent.SlavePath())).last(), "close");
  // COM3 stays open: its last event is the single Poll; no acknowledgement was sent.
  EXPECT_EQ(What(EventsOf(recorder, sim.SlavePath())),
            (QStringList{"open", "state rts 0", "rts 1", "rts 0", "write 33", "write 33"}));
  const auto received = sim.ReceivedFrames();
  ASSERT_EQ(received.size(), 2u);
  for (const bvsim::Frame& frame : received) EXPECT_EQ(frame.bytes, frames::kPoll);
  EXPECT_EQ(silent.Requests(), (std::vector<Bytes>{frames::kPoll}));

  // The port found is the one every command uses.
  form.show();
  const qsizetype before = LogLines(form).size();
  Click(Control(form, "BtnHold"));
  EXPECT_EQ(LogLines(form).mid(before), QStringList{"The Hold-command is executed"});
  ASSERT_TRUE(sim.WaitForFrames(3, std::chrono::seconds(2)));
  EXPECT_EQ(sim.ReceivedFrames().back().bytes, frames::kHold);
}

TEST(BusReset, ClosesTheOpenPortSearchesFromCom1AtTheChosenRateAndShowsItsProgress) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  TMainForm& form = *console.form;

  // The validator now answers on COM3 only; COM1 and COM2 are absent. No baud rate item chosen.
  console.ports.SetAll({"", "", validator.peer.SlavePath()});
  Control<QComboBox>(form, "CmbBoxRate")->setCurrentIndex(-1);
  QProgressBar* progress = Control<QProgressBar>(form, "ProgBarMain");
  QList<int> positions;
  bool disabledWhileRunning = false;
  int maximumWhileRunning = 0;
  QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) {
    positions << value;
    if (value == 1) {  // the search has begun with COM1
      disabledWhileRunning = !console.Button("BtnResetHard")->isEnabled();
      maximumWhileRunning = progress->maximum();
    }
  });
  const int before = console.LineCount();
  const size_t framesBefore = validator.Frames().size();
  Click(console.Button("BtnResetHard"));

  EXPECT_EQ(positions, (QList<int>{1, 2, 3, 0}));
  EXPECT_TRUE(disabledWhileRunning);
  EXPECT_EQ(maximumWhileRunning, 8);
  EXPECT_TRUE(console.Button("BtnResetHard")->isEnabled());
  EXPECT_EQ(validator.peer.BaudRate(), 19200u);
  EXPECT_EQ(console.LinesSince(before),
            (QStringList{kSep, kSep, "Device has found on COM3!", kSep, "* Idling"}));
  // The old handle was closed before the new search opened the port again.
  const QStringList what = What(EventsOf(console.recorder, validator.peer.SlavePath()));
  const qsizetype closeAt = what.lastIndexOf("close");
  ASSERT_GE(closeAt, 0);
  EXPECT_EQ(what.mid(closeAt), (QStringList{"close", "open", "state rts 0", "rts 1", "rts 0",
                                            "write 33", "write 33"}));
  EXPECT_EQ(validator.Frames().size(), framesBefore + 2);
  EXPECT_TRUE(console.dialogs.errorBoxes.isEmpty());
}

TEST(Reset, OnAnOpenPortSendsResetOnlyAndWithoutOneSearchesByReset) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  TMainForm& form = *console.form;
  // Attaching was the search by Reset: COM1 found at once.
  EXPECT_EQ(console.LinesSince(0), (QStringList{kSep, "The device is found in COM1!",
                                                "The Reset-soft is executed successfully!"}));
  EXPECT_EQ(validator.Frames(), std::vector<Bytes>{frames::kReset});

  // With the port open: the Reset command alone, with its 500 ms time-out; a silent validator
  // leaves the port open and writes only the transaction's lines.
  const size_t eventsBefore = console.recorder.Events().size();
  int before = console.LineCount();
  Click(console.Button("BtnResetSoft"));
  EXPECT_EQ(console.LinesSince(before),
            (QStringList{kSep, "The Reset-soft is executed successfully!"}));
  validator.SetSilent(true);
  before = console.LineCount();
  QElapsedTimer clock;
  clock.start();
  Click(console.Button("BtnResetSoft"));
  EXPECT_GE(clock.elapsed(), 480);
  EXPECT_EQ(console.LinesSince(before), (QStringList{kSep, "Time-out!"}));
  // The same port throughout: only the two Resets were written on it, nothing closed or opened.
  EXPECT_EQ(What(EventsSince(console.recorder, eventsBefore)),
            (QStringList{"write 30", "write 30"}));
  EXPECT_TRUE(console.dialogs.errorBoxes.isEmpty());
  EXPECT_EQ(validator.Frames(),
            (std::vector<Bytes>{frames::kReset, frames::kReset, frames::kReset}));

  // Without a port (a Bus Reset that found none closed it): COM1 absent, COM2 silent (300 ms
  // time-out), COM3 the validator.
  zelnet::test::PtyPeer silent;
  validator.SetSilent(false);
  console.ports.SetAll({});
  Click(console.Button("BtnResetHard"));
  EXPECT_EQ(console.dialogs.errorBoxes, QStringList{"BV hasn't found!"});
  console.dialogs.errorBoxes.clear();
  console.ports.SetAll({"", silent.SlavePath(), validator.peer.SlavePath()});
  QProgressBar* progress = Control<QProgressBar>(form, "ProgBarMain");
  QList<int> positions;
  QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) { positions << value; });
  before = console.LineCount();
  Click(console.Button("BtnResetSoft"));
  EXPECT_EQ(console.LinesSince(before),
            (QStringList{kSep, "Time-out!", kSep, "The device is found in COM3!",
                         "The Reset-soft is executed successfully!"}));
  EXPECT_EQ(positions, (QList<int>{1, 2, 3, 0}));
  EXPECT_EQ(progress->maximum(), 4);
  EXPECT_EQ(silent.Requests(), std::vector<Bytes>{frames::kReset});
  // No RTS pulse in a search by Reset.
  EXPECT_EQ(What(EventsOf(console.recorder, silent.SlavePath())),
            (QStringList{"open", "state rts 0", "write 30", "close"}));
}

TEST(Search, IsRefusedWhileAnExchangeWaitsForItsAnswer) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  const size_t eventsBefore = console.recorder.Events().size();
  // The bill table comes late; meanwhile the operator presses Bus Reset, Get Status and Reset.
  validator.peer.QueueAnswer({{400, Answer(BillTableData())}});
  const size_t framesBefore = validator.Frames().size();
  // The request has reached the validator: its exchange waits for the late answer.
  When meanwhile([&] { return validator.Frames().size() > framesBefore; },
                 [&] {
                   Click(console.Button("BtnResetHard"));
                   Click(console.Button("BtnGetStatus"));
                   Click(console.Button("BtnResetSoft"));
                 });
  const int before = console.LineCount();
  Click(console.Button("BtnGetDescription"));
  ASSERT_TRUE(meanwhile.Fired());
  const QStringList lines = console.LinesSince(before);
  ASSERT_GE(lines.size(), 4);
  EXPECT_EQ(lines.mid(0, 3), (QStringList{"The line is busy - search refused!",
                                          "The line is busy - command refused!",
                                          "The line is busy - command refused!"}));
  EXPECT_TRUE(lines.contains("*   2- 50-USA;   "));
  // The port stayed as it was: the bill table was all that was written on it.
  EXPECT_EQ(What(EventsSince(console.recorder, eventsBefore)), QStringList{"write 41"});
  EXPECT_TRUE(console.Button("BtnResetHard")->isEnabled());
  EXPECT_TRUE(console.Button("BtnResetSoft")->isEnabled());
  EXPECT_EQ(validator.Frames().back(), frames::kGetBillTable);
  EXPECT_EQ(validator.Frames().size(), 2u);  // the attaching Reset and the bill table
}
