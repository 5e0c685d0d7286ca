// The device commands, the single Poll and the ACK button against a scripted validator on a pty:
// the frames they send and the exact lines they write.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "ConsoleRig.h"

using namespace velkor::test;

namespace {

// Clicks a button and returns the lines it added and the frames it sent.
struct Outcome {
  QStringList lines;
  std::vector<Bytes> frames;
};

Outcome Press(AttachedConsole& console, ScriptedValidator& validator, QPushButton* button) {
  const int lines = console.LineCount();
  const size_t frames = validator.Frames().size();
  Click(button);
  Outcome outcome;
  outcome.lines = console.LinesSince(lines);
  const auto all = validator.Frames();
  outcome.frames.assign(all.begin() + static_cast<std::ptrdiff_t>(frames), all.end());
  return outcome;
}

// Whether `status` is the one the transaction compares answers with (LastStatus), as the log
// shows it: a single Poll answered with it writes no separator (traces are switched off).
bool RecordedStatusIs(AttachedConsole& console, ScriptedValidator& validator, uint8_t status) {
  Control<QCheckBox>(*console.form, "CheckBox1")->setChecked(false);
  validator.SetStatus(status);
  const Outcome o = Press(console, validator, console.Button("BtnPoll"));
  return o.frames == std::vector<Bytes>{frames::kPoll} && !o.lines.startsWith(kSep);
}

// The name of bill type `type` as the window shows it: the escrow line of a single Poll (which
// records no status and sends no acknowledgement).
QString BillName(AttachedConsole& console, ScriptedValidator& validator, uint8_t type) {
  validator.SetStatus(0x80, type);
  const Outcome o = Press(console, validator, console.Button("BtnPoll"));
  validator.SetStatus(0x14);
  const QString prefix = QStringLiteral("* Escrow - ");
  if (o.lines.isEmpty() || !o.lines.last().startsWith(prefix)) return QStringLiteral("<none>");
  return o.lines.last().mid(prefix.size());
}
}  // namespace

TEST(Commands, EachSendsItsFrameAndWritesItsLines) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  ASSERT_TRUE(RecordedStatusIs(console, validator, 0x00));
  // Answers whose first data byte differs from LastStatus (0) are set off by the transaction's
  // own separator; the acknowledgements (0x00) are not.

  Outcome o = Press(console, validator, console.Button("BtnGetStatus"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kGetStatus});
  EXPECT_EQ(o.lines, (QStringList{kSep, kSep, "*********  Bill types enable  ********",
                                  "1111.1111--1111.1111--1111.1111",
                                  "******  Bill types set security  ******",
                                  "0000.0000--0000.0000--0000.0000"}));
  validator.SetAnswerData(0x31, {0x80, 0x00, 0x01, 0x00, 0x10, 0xFF});
  o = Press(console, validator, console.Button("BtnGetStatus"));
  EXPECT_EQ(o.lines.mid(3), (QStringList{"1000.0000--0000.0000--0000.0001",
                                         "******  Bill types set security  ******",
                                         "0000.0000--0001.0000--1111.1111"}));

  o = Press(console, validator, console.Button("BtnSetSecurity"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kSetSecurityZero});
  EXPECT_EQ(o.lines, (QStringList{kSep, "The Security-command is executed"}));

  o = Press(console, validator, console.Button("BtnEnableBill"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kEnableAll});
  EXPECT_EQ(o.lines, (QStringList{kSep, "The Enable Bill Types-command is executed"}));

  o = Press(console, validator, console.Button("BtnDisableBill"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kDisable});
  EXPECT_EQ(o.lines, (QStringList{kSep, "The Disable Bill Types-command is executed"}));

  o = Press(console, validator, console.Button("BtnStack"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kStack});
  EXPECT_EQ(o.lines, QStringList{"The Stack-command is executed"});
  o = Press(console, validator, console.Button("BtnReturn"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kReturn});
  EXPECT_EQ(o.lines, QStringList{"The Return-command is executed"});
  o = Press(console, validator, console.Button("BtnHold"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kHold});
  EXPECT_EQ(o.lines, QStringList{"The Hold-command is executed"});

  o = Press(console, validator, console.Button("BtnIdentification"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kIdentification});
  EXPECT_EQ(o.lines, (QStringList{kSep, kSep, "* Part Number - BV-ZEL-3000",
                                  "* Serial Number - SN0042", "* Asset Number - 256"}));

  o = Press(console, validator, console.Button("BtnSetParamBarCode"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kSetupBarcode18});
  EXPECT_EQ(o.lines, (QStringList{kSep, "The Setup Barcode-command is executed"}));
  o = Press(console, validator, console.Button("BtnReqBarCode"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kExtractBarcode});
  EXPECT_EQ(o.lines, (QStringList{kSep, "BarCode: 123456789012345678;"}));

  o = Press(console, validator, console.Button("BtnGetDescription"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kGetBillTable});
  ASSERT_EQ(o.lines.size(), 26);
  EXPECT_EQ(o.lines.mid(0, 2), (QStringList{kSep, kSep}));
  EXPECT_EQ(o.lines[2], "*   0- 1-USA;   ");
  EXPECT_EQ(o.lines[3], "*   1- 0-;   ");
  EXPECT_EQ(o.lines[4], "*   2- 50-USA;   ");
  EXPECT_EQ(o.lines[7], "*   5- 5-USA;   ");
  EXPECT_EQ(o.lines[11], "*   9- 0-;   ");
  EXPECT_EQ(o.lines[12], "* 10- 0-;   ");
  EXPECT_EQ(o.lines[14], "* 12-  0.01-RUS;   ");
  EXPECT_EQ(o.lines[25], "* 23- 100-EUR;   ");
  EXPECT_EQ(BillName(console, validator, 2), "50-USA");
  EXPECT_EQ(BillName(console, validator, 12), "0.01-RUS");
  EXPECT_EQ(BillName(console, validator, 23), "100-EUR");

  // ACK sends the acknowledgement frame and reads nothing; with "Show Messages" it is traced.
  // Nothing answers an ACK, so wait for it to reach the validator.
  const size_t beforeAcks = validator.Frames().size();
  o = Press(console, validator, console.Button("Button2"));
  EXPECT_TRUE(o.lines.isEmpty());
  Control<QCheckBox>(*console.form, "CheckBox1")->setChecked(true);
  o = Press(console, validator, console.Button("Button2"));
  EXPECT_EQ(o.lines, (QStringList{kSep, "-> 02, 03, 06, 00, C2, 82, "}));
  ASSERT_TRUE(validator.peer.WaitForRequests(beforeAcks + 2, 2000));
  EXPECT_EQ(validator.Frames().size(), beforeAcks + 2);
  EXPECT_EQ(validator.Frames().back(), frames::kAck);
  EXPECT_EQ(validator.Frames()[beforeAcks], frames::kAck);
  EXPECT_TRUE(console.dialogs.errorBoxes.isEmpty());
  // No command but the poll loop records a status.
  EXPECT_TRUE(RecordedStatusIs(console, validator, 0x00));
}

TEST(Commands, BitMaskEditsAreCheckedBeforeAnythingIsSent) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  RecordingDialogs& dialogs = console.dialogs;

  struct Bad {
    QLineEdit* edit;
    QPushButton* button;
    const char* text;
  } const bad[] = {
      {Control<QLineEdit>(*console.form, "EditEnBillByte2"), console.Button("BtnEnableBill"),
       "1111111"},  // seven characters
      {Control<QLineEdit>(*console.form, "EditEnBillByte2"), console.Button("BtnEnableBill"),
       "1111 111"},  // a space
      {Control<QLineEdit>(*console.form, "EditEnBillByte2"), console.Button("BtnEnableBill"),
       "11111112"},  // a 2
      {Control<QLineEdit>(*console.form, "EditEscBillByte3"), console.Button("BtnEnableBill"),
       ""},  // the escrow group is read too
      {Control<QLineEdit>(*console.form, "EditSecurityByte1"), console.Button("BtnSetSecurity"),
       "0000000x"},
  };
  for (const Bad& b : bad) {
    const QString kept = b.edit->text();
    b.edit->setText(b.text);
    dialogs.errorBoxes.clear();
    const Outcome o = Press(console, validator, b.button);
    EXPECT_EQ(dialogs.errorBoxes, QStringList{"The incorrect value is entered!"}) << b.text;
    EXPECT_TRUE(o.frames.empty()) << b.text;
    EXPECT_TRUE(o.lines.isEmpty()) << b.text;
    b.edit->setText(kept);
  }
  // One box only, for the first faulty group.
  Control<QLineEdit>(*console.form, "EditEnBillByte1")->setText("2");
  Control<QLineEdit>(*console.form, "EditEscBillByte1")->setText("2");
  dialogs.errorBoxes.clear();
  Press(console, validator, console.Button("BtnEnableBill"));
  EXPECT_EQ(dialogs.errorBoxes.size(), 1);

  // An all-zero enable mask sends nothing and says nothing, whatever the escrow edits hold.
  for (QLineEdit* e : {Control<QLineEdit>(*console.form, "EditEnBillByte1"),
                       Control<QLineEdit>(*console.form, "EditEnBillByte2"),
                       Control<QLineEdit>(*console.form, "EditEnBillByte3")}) {
    e->setText("00000000");
  }
  Control<QLineEdit>(*console.form, "EditEscBillByte1")->setText("11111111");
  dialogs.errorBoxes.clear();
  Outcome o = Press(console, validator, console.Button("BtnEnableBill"));
  EXPECT_TRUE(o.frames.empty());
  EXPECT_TRUE(o.lines.isEmpty());
  EXPECT_TRUE(dialogs.errorBoxes.isEmpty());

  // Edit 1 is the first byte sent, its first character bit 7; then the escrow bytes.
  Control<QLineEdit>(*console.form, "EditEnBillByte1")->setText("10000000");
  Control<QLineEdit>(*console.form, "EditEnBillByte3")->setText("00000001");
  Control<QLineEdit>(*console.form, "EditEscBillByte1")->setText("00000000");
  Control<QLineEdit>(*console.form, "EditEscBillByte2")->setText("01010101");
  o = Press(console, validator, console.Button("BtnEnableBill"));
  ASSERT_EQ(o.frames.size(), 1u);
  EXPECT_EQ(o.frames[0],
            zelnet::test::WithCrc({0x02, 0x03, 0x0C, 0x34, 0x80, 0x00, 0x01, 0x00, 0x55, 0x00}));
  Control<QLineEdit>(*console.form, "EditSecurityByte2")->setText("11110000");
  o = Press(console, validator, console.Button("BtnSetSecurity"));
  ASSERT_EQ(o.frames.size(), 1u);
  EXPECT_EQ(o.frames[0], zelnet::test::WithCrc({0x02, 0x03, 0x09, 0x32, 0x00, 0xF0, 0x00}));
  // Disable Bill Types ignores the edits.
  Control<QLineEdit>(*console.form, "EditEnBillByte2")->setText("x");
  o = Press(console, validator, console.Button("BtnDisableBill"));
  EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kDisable});
}

TEST(Commands, BarcodeLengthIsChosenInTheBoxAndShortOrOddAnswersShowOnlyWhatArrived) {
  ScriptedValidator validator;
  AttachedConsole console(validator);

  Control<QComboBox>(*console.form, "CmbBoxLenghtBarCode")->setCurrentIndex(0);  // "6 numbers"
  Outcome o = Press(console, validator, console.Button("BtnSetParamBarCode"));
  EXPECT_EQ(o.frames,
            std::vector<Bytes>{zelnet::test::WithCrc({0x02, 0x03, 0x08, 0x39, 0x01, 0x06})});
  o = Press(console, validator, console.Button("BtnReqBarCode"));
  EXPECT_EQ(o.lines.last(), "BarCode: 123456;");
  // Changing the box changes how much is shown, not what was configured.
  Control<QComboBox>(*console.form, "CmbBoxLenghtBarCode")->setCurrentIndex(2);
  o = Press(console, validator, console.Button("BtnReqBarCode"));
  EXPECT_EQ(o.lines.last(), "BarCode: 1234567890;");
  Control<QComboBox>(*console.form, "CmbBoxLenghtBarCode")->setCurrentIndex(-1);
  o = Press(console, validator, console.Button("BtnReqBarCode"));
  EXPECT_EQ(o.lines.last(), "BarCode: 1234;");
  o = Press(console, validator, console.Button("BtnSetParamBarCode"));
  EXPECT_EQ(o.frames,
            std::vector<Bytes>{zelnet::test::WithCrc({0x02, 0x03, 0x08, 0x39, 0x01, 0x04})});

  // A barcode shorter than chosen: neither the check code nor older bytes appear; a zero byte is
  // left out and control bytes become spaces, so the entry stays one line.
  Control<QComboBox>(*console.form, "CmbBoxLenghtBarCode")->setCurrentIndex(6);
  validator.SetAnswerData(0x3A, {'7', '7', 0x00, '1', '\n', '2', '\r', 0x7F});
  o = Press(console, validator, console.Button("BtnReqBarCode"));
  EXPECT_EQ(o.lines.last(), "BarCode: 771 2  ;");
  EXPECT_EQ(o.lines.size(), 2);

  // An identification of fewer than 34 bytes reads only what arrived.
  validator.SetAnswerData(0x37, {'P', 'N', '\t', '1'});
  o = Press(console, validator, console.Button("BtnIdentification"));
  EXPECT_EQ(o.lines.mid(2),
            (QStringList{"* Part Number - PN 1", "* Serial Number - ", "* Asset Number - 0"}));
  validator.SetAnswerData(0x37, Bytes(34, 0xFF));
  o = Press(console, validator, console.Button("BtnIdentification"));
  EXPECT_EQ(o.lines.last(), "* Asset Number - 72057594037927935");

  // A bill table of fewer than 120 bytes: the entries it lacks read as empty, and the names are
  // all rewritten.
  o = Press(console, validator, console.Button("BtnGetDescription"));
  ASSERT_EQ(BillName(console, validator, 2), "50-USA");
  validator.SetAnswerData(0x41, {2, 'E', 'U', 'R', 0x80, 1, 'U', 'S', 'A', 0x81, 7, 'Z'});
  o = Press(console, validator, console.Button("BtnGetDescription"));
  ASSERT_EQ(o.lines.size(), 26);
  EXPECT_EQ(o.lines[2], "*   0-  2-EUR;   ");  // bit 7 with a power of 0: the digit itself
  EXPECT_EQ(o.lines[3], "*   1-  0.1-USA;   ");
  EXPECT_EQ(o.lines[4], "*   2- 7-Z;   ");
  EXPECT_EQ(o.lines[5], "*   3- 0-;   ");
  EXPECT_EQ(BillName(console, validator, 2), "7-Z");
  EXPECT_EQ(BillName(console, validator, 23), "0-");

  // A failed bill table leaves the names as they were.
  validator.SetSilent(true);
  o = Press(console, validator, console.Button("BtnGetDescription"));
  EXPECT_EQ(o.lines, (QStringList{kSep, "Time-out!"}));
  validator.SetSilent(false);
  EXPECT_EQ(BillName(console, validator, 0), "2-EUR");

  // A refused command writes only the transaction's line.
  validator.SetAnswerData(0x35, {0x30});
  o = Press(console, validator, console.Button("BtnStack"));
  EXPECT_EQ(o.lines, (QStringList{kSep, "Invalid command!"}));
}

TEST(SinglePoll, WritesTheDecodedLineOnlyAndNeverAcknowledges) {
  ScriptedValidator validator;
  AttachedConsole console(validator);
  // Before any bill table the bill events name nothing.
  validator.SetPollData({0x80, 0x02});
  EXPECT_EQ(Press(console, validator, console.Button("BtnPoll")).lines,
            (QStringList{kSep, "* Escrow - "}));
  Click(console.Button("BtnGetDescription"));  // names for the bill events

  struct Case {
    Bytes data;
    QStringList lines;
  } const cases[] = {
      {{0x14}, {kSep, "* Idling"}},
      {{0x1C, 0x68}, {kSep, "* Rejecting because of - Inhibit"}},
      {{0x1C, 0x6D}, {kSep}},
      {{0x47, 0x5F}, {kSep, "* Capacitace Canal Failure"}},
      {{0x47, 0x57}, {kSep}},
      {{0x16}, {kSep}},
      {{0x80, 0x02}, {kSep, "* Escrow - 50-USA"}},
      {{0x81, 0x17}, {kSep, "* Stacked - 100-EUR"}},
      {{0x82, 0x00}, {kSep, "* Returned - 1-USA"}},
      {{0x80, 0x18}, {kSep, "* Escrow - "}},  // bill type 24: no name to read
      {{0x80, 0xC8}, {kSep, "* Escrow - "}},
      {{0x80}, {kSep, "* Escrow - "}},  // no sub-code at all: the check code is not a bill type
      {{0x00}, {}},                     // the same as LastStatus: not even a separator
  };
  for (const Case& c : cases) {
    validator.SetPollData(c.data);
    const Outcome o = Press(console, validator, console.Button("BtnPoll"));
    EXPECT_EQ(o.lines, c.lines) << int(c.data[0]);
    EXPECT_EQ(o.frames, std::vector<Bytes>{frames::kPoll});
  }
  EXPECT_TRUE(RecordedStatusIs(console, validator, 0x00));  // the single Poll records nothing

  // With "Show Messages": the traces, no acknowledgement.
  Control<QCheckBox>(*console.form, "CheckBox1")->setChecked(true);
  validator.SetPollData({0x14});
  Outcome o = Press(console, validator, console.Button("BtnPoll"));
  EXPECT_EQ(o.lines, (QStringList{kSep, "-> 02, 03, 06, 33, DA, 81, ", kSep,
                                  "<- 02, 03, 06, 14, 67, D4, ", kSep, "* Idling"}));
  Control<QCheckBox>(*console.form, "CheckBox1")->setChecked(false);
  EXPECT_TRUE(RecordedStatusIs(console, validator, 0x00));

  // A time-out: the transaction's separator and "Time-out!", nothing else.
  validator.SetSilent(true);
  o = Press(console, validator, console.Button("BtnPoll"));
  EXPECT_EQ(o.lines, (QStringList{kSep, "Time-out!"}));
  validator.SetSilent(false);
  EXPECT_TRUE(RecordedStatusIs(console, validator, 0x00));
  for (const Bytes& frame : validator.Frames()) EXPECT_NE(frame, frames::kAck);
}
