// What Velkor's window tests share: a dialog seam that answers every box at once, a serial line
// that records RTS switching (a pty cannot show it), a scripted validator on a real
// pseudo-terminal, the window attached to it or to bvsim, the window seen as a user sees it (its
// controls by their names, its log), and ways to act from inside a running handler.
#pragma once

#include <QElapsedTimer>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "ConsoleDialogs.h"
#include "Mainunit.h"
#include "PortNames.h"
#include "PtyPeer.h"
#include "SerialLine.h"
#include "SimOnPort.h"

// Failures print texts as texts.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace velkor::test {

using zelnet::test::Bytes;

// A ZELNET answer frame: sync, address, length, the data bytes, check code.
Bytes Answer(const Bytes& data);

// Frames of the requests the console sends.
namespace frames {
inline const Bytes kAck = {0x02, 0x03, 0x06, 0x00, 0xC2, 0x82};
inline const Bytes kReset = {0x02, 0x03, 0x06, 0x30, 0x41, 0xB3};
inline const Bytes kGetStatus = {0x02, 0x03, 0x06, 0x31, 0xC8, 0xA2};
inline const Bytes kPoll = {0x02, 0x03, 0x06, 0x33, 0xDA, 0x81};
inline const Bytes kStack = {0x02, 0x03, 0x06, 0x35, 0xEC, 0xE4};
inline const Bytes kReturn = {0x02, 0x03, 0x06, 0x36, 0x77, 0xD6};
inline const Bytes kIdentification = {0x02, 0x03, 0x06, 0x37, 0xFE, 0xC7};
inline const Bytes kHold = {0x02, 0x03, 0x06, 0x38, 0x09, 0x3F};
inline const Bytes kExtractBarcode = {0x02, 0x03, 0x06, 0x3A, 0x1B, 0x1C};
inline const Bytes kGetBillTable = {0x02, 0x03, 0x06, 0x41, 0x4F, 0xD1};
inline const Bytes kSetSecurityZero = {0x02, 0x03, 0x09, 0x32, 0x00, 0x00, 0x00, 0x26, 0x1F};
inline const Bytes kDisable = {0x02, 0x03, 0x0C, 0x34, 0, 0, 0, 0, 0, 0, 0x17, 0x0C};
inline const Bytes kEnableAll = {0x02, 0x03, 0x0C, 0x34, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0xB5, 0xC1};
inline const Bytes kSetupBarcode18 = {0x02, 0x03, 0x08, 0x39, 0x01, 0x12, 0xB9, 0xC0};
}  // namespace frames

inline const QString kSep = QStringLiteral("==================================");

// Answers every box and dialog at once and remembers what was asked.
class RecordingDialogs : public velkor::ConsoleDialogs {
 public:
  void ErrorBox(QWidget*, const QString& text) override;
  void Message(QWidget*, const QString& text) override;
  bool ConfirmClose(QWidget*, const QString& text) override;
  void ShowModal(QDialog& dialog) override;
  void ShowWindow(QWidget& window) override;
  QString OpenFile(QWidget*, const QString& filter) override;
  QString SaveFile(QWidget*, const QString& filter, const QString& suggestedName) override;
  void OpenFolder(const QString& path) override;

  QStringList errorBoxes;
  QStringList messages;
  QStringList closeQueries;
  QStringList modalTitles;
  QDialog* lastModal = nullptr;  // the secondary window shown last (About box, statistics)
  QStringList windowTitles;
  QWidget* lastWindow = nullptr;  // the help window once shown
  QStringList fileFilters;
  bool closeAnswer = true;  // OK to "Close the programm?"
  QString fileAnswer;
  QStringList saveSuggestions;
  QString saveAnswer;  // empty: cancel
  QStringList openedFolders;
};

// Everything a port was asked to do, with the time since the rig started.
struct LineEvent {
  qint64 ms;
  QString path;
  QString what;  // "open", "rts 1", "rts 0", "write <hex of byte 3>", "close"
};

class LineRecorder {
 public:
  LineRecorder() { clock_.start(); }
  void Add(const QString& path, const QString& what);
  std::vector<LineEvent> Events() const;
  // The opener to give the window: the real port, wrapped so that its use is recorded.
  velkor::TComPort::LineOpener Opener();

 private:
  QElapsedTimer clock_;
  mutable std::mutex mutex_;
  std::vector<LineEvent> events_;
};

using zelnet::test::AbsentPort;
using zelnet::test::PortNames;

// The control of a window with this object name, as the window's design names it; a missing
// control fails the test.
template <class T = QPushButton>
T* Control(const QWidget& window, const char* name) {
  T* control = window.findChild<T*>(QString::fromLatin1(name));
  if (!control) throw std::runtime_error(std::string("no control ") + name);
  return control;
}

// The lines of the window's message log.
QStringList LogLines(const QWidget& form);

// The session log file of the one run in XDG_STATE_HOME = `stateHome`, or an empty text.
QString SessionFile(const QString& stateHome);

// A validator scripted through a PtyPeer's responder: it answers Poll with the status it is set
// to, Get Status, Identification, Get Bill Table and Extract Barcode Data with the answers set
// here, and every other request with a one-byte 0x00 answer. Requests queued on the peer first
// take precedence.
class ScriptedValidator {
 public:
  ScriptedValidator();

  zelnet::test::PtyPeer peer;

  // Poll answers: one (status) or two (status, sub-code) data bytes.
  void SetStatus(uint8_t status) { SetPollData({status}); }
  void SetStatus(uint8_t status, uint8_t sub) { SetPollData({status, sub}); }
  void SetPollData(const Bytes& data);
  // The answer data for one command code.
  void SetAnswerData(uint8_t code, const Bytes& data);
  // The next Poll answers (each a list of data bytes), before the steady status takes over.
  void QueuePolls(const std::vector<Bytes>& polls);
  // Answers requests with this command code only after a pause.
  void SetAnswerDelay(uint8_t code, int ms);
  // How many queued Poll answers have not been sent yet.
  size_t QueuedPolls() const;
  // Stops answering altogether (true) or answers again (false).
  void SetSilent(bool silent) { silent_ = silent; }

  // Requests received, without the ACKs, as command codes; and every frame with ACKs.
  std::vector<uint8_t> Codes() const;
  std::vector<Bytes> Frames() const { return peer.Requests(); }

 private:
  Bytes Respond(const Bytes& request);

  mutable std::mutex mutex_;
  std::atomic<bool> silent_{false};
  Bytes pollData_;
  std::vector<Bytes> queuedPolls_;
  std::map<uint8_t, Bytes> answers_;
  std::map<uint8_t, int> delays_;
};

// Standard answers of the scripted validator.
Bytes BillTableData();       // entry 2 = 50-USA, entry 5 = 5-USA, entry 12 = 0.01-RUS, 23 = 100-EUR
Bytes IdentificationData();  // "BV-ZEL-3000", "SN0042", asset 256

// Runs `action` once, from inside whatever handler is running, as soon as `condition` holds
// (checked every 10 ms). Stops with the object.
class When {
 public:
  When(std::function<bool()> condition, std::function<void()> action);
  bool Fired() const { return fired_; }

 private:
  QTimer timer_;
  bool fired_ = false;
};

// A window with recorded boxes and RTS, found no validator at start-up (all four ports absent,
// about 1.2 s), then attached to `validator` on COM1 by Reset (the search by the Reset command).
struct AttachedConsole {
  explicit AttachedConsole(ScriptedValidator& validator);
  ~AttachedConsole();

  // Lines added to the log since `from` (a count of lines).
  QStringList LinesSince(int from) const;
  int LineCount() const;
  // The window's control of this name.
  QPushButton* Button(const char* name) const { return Control(*form, name); }

  PortNames ports;
  RecordingDialogs dialogs;
  LineRecorder recorder;
  std::unique_ptr<velkor::TMainForm> form;
};

// A window with recorded boxes that found bvsim on COM1 at start-up (COM2 to COM4 absent).
struct SimConsole {
  explicit SimConsole(bvsim::Config config = {});
  ~SimConsole();

  QStringList Lines() const { return LogLines(*form); }
  // The lines from `from` (a count of lines) on, and from the last occurrence of `first` on;
  // both fail the test when the log is full and lines may have been dropped.
  QStringList Since(qsizetype from) const;
  QStringList From(const QString& first) const;

  // The window's control of this name.
  QPushButton* Button(const char* name) const { return Control(*form, name); }
  // Closes the window's port as a user does: a Bus Reset that finds no port (its box is taken).
  void Detach();

  zelnet::test::SimOnPort simPort;
  bvsim::Simulator& sim = simPort.sim;
  RecordingDialogs dialogs;
  std::unique_ptr<velkor::TMainForm> form;
};

// Clicks a button of the window with the mouse; returns when its handler has returned.
void Click(QWidget* button);

// Clicks Start Poll; Stop Poll is clicked from inside the loop once `stopWhen` holds, or after
// `limitMs` at the latest (then `timedOut` is set).
void RunPollLoop(QWidget& form, const std::function<bool()>& stopWhen, int limitMs = 15000,
                 bool* timedOut = nullptr);

}  // namespace velkor::test
