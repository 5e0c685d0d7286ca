#include "ConsoleRig.h"

#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <chrono>
#include <thread>

#include "NetSerialLine.h"
#include "QtSerialLine.h"

namespace velkor::test {

Bytes Answer(const Bytes& data) {
  Bytes frame = {0x02, 0x03, static_cast<uint8_t>(data.size() + 5)};
  frame.insert(frame.end(), data.begin(), data.end());
  return zelnet::test::WithCrc(frame);
}

// ---- RecordingDialogs ----

void RecordingDialogs::ErrorBox(QWidget*, const QString& text) {
  errorBoxes << text;
}

void RecordingDialogs::Message(QWidget*, const QString& text) {
  messages << text;
}

bool RecordingDialogs::ConfirmClose(QWidget*, const QString& text) {
  closeQueries << text;
  return closeAnswer;
}

void RecordingDialogs::ShowModal(QDialog& dialog) {
  modalTitles << dialog.windowTitle();
  lastModal = &dialog;
}

void RecordingDialogs::ShowWindow(QWidget& window) {
  windowTitles << window.windowTitle();
  lastWindow = &window;
  window.show();
}

QString RecordingDialogs::OpenFile(QWidget*, const QString& filter) {
  fileFilters << filter;
  return fileAnswer;
}

QString RecordingDialogs::SaveFile(QWidget*, const QString& filter, const QString& suggestedName) {
  fileFilters << filter;
  saveSuggestions << suggestedName;
  return saveAnswer;
}

void RecordingDialogs::OpenFolder(const QString& path) {
  openedFolders << path;
}

// ---- LineRecorder ----

namespace {

class RecordingLine final : public velkor::SerialLine {
 public:
  RecordingLine(std::unique_ptr<velkor::SerialLine> real, QString path, LineRecorder& recorder)
      : real_(std::move(real)), path_(std::move(path)), recorder_(recorder) {
    recorder_.Add(path_, QStringLiteral("open"));
  }
  ~RecordingLine() override { recorder_.Add(path_, QStringLiteral("close")); }

  bool GetState(velkor::TDcb& dcb) override { return real_->GetState(dcb); }
  bool SetState(const velkor::TDcb& dcb) override {
    recorder_.Add(path_, QStringLiteral("state rts %1").arg(dcb.RtsControl));
    return real_->SetState(dcb);
  }
  bool SetRts(bool high) override {
    recorder_.Add(path_, QStringLiteral("rts %1").arg(high ? 1 : 0));
    return real_->SetRts(high);
  }
  size_t Write(const uint8_t* data, size_t size, int timeoutMs) override {
    recorder_.Add(path_,
                  QStringLiteral("write %1").arg(size > 3 ? data[3] : 0, 2, 16, QLatin1Char('0')));
    return real_->Write(data, size, timeoutMs);
  }
  int ReadByte(uint8_t& byte, int waitMs) override { return real_->ReadByte(byte, waitMs); }

 private:
  std::unique_ptr<velkor::SerialLine> real_;
  QString path_;
  LineRecorder& recorder_;
};

}  // namespace

void LineRecorder::Add(const QString& path, const QString& what) {
  std::lock_guard lock(mutex_);
  events_.push_back(LineEvent{clock_.elapsed(), path, what});
}

std::vector<LineEvent> LineRecorder::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

velkor::TComPort::LineOpener LineRecorder::Opener() {
  return [this](const QString& path) -> std::unique_ptr<velkor::SerialLine> {
    QString problem;
    auto real = velkor::OpenLine(path, problem);
    if (!real) return nullptr;
    return std::make_unique<RecordingLine>(std::move(real), path, *this);
  };
}

// ---- The window as a user sees it ----

QStringList LogLines(const QWidget& form) {
  const auto* memo = Control<QPlainTextEdit>(form, "MemoMessage");
  const QString text = memo->toPlainText();
  if (text.isEmpty() && memo->document()->blockCount() <= 1) return {};
  return text.split(QLatin1Char('\n'));
}

QString SessionFile(const QString& stateHome) {
  const QDir logs(stateHome + QStringLiteral("/Velkor/logs"));
  const QStringList files = logs.entryList({QStringLiteral("velkor-*.log")}, QDir::Files);
  EXPECT_EQ(files.size(), 1) << "session logs: " << files.join(", ").toStdString();
  return files.size() == 1 ? logs.filePath(files[0]) : QString();
}

// ---- ScriptedValidator ----

ScriptedValidator::ScriptedValidator() {
  pollData_ = {0x14};
  answers_[0x31] = {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00};
  answers_[0x37] = IdentificationData();
  answers_[0x41] = BillTableData();
  const std::string code = "123456789012345678";
  answers_[0x3A] = Bytes(code.begin(), code.end());
  peer.SetResponder([this](const Bytes& request) { return Respond(request); });
}

void ScriptedValidator::SetPollData(const Bytes& data) {
  std::lock_guard lock(mutex_);
  pollData_ = data;
}

void ScriptedValidator::SetAnswerData(uint8_t code, const Bytes& data) {
  std::lock_guard lock(mutex_);
  answers_[code] = data;
}

void ScriptedValidator::QueuePolls(const std::vector<Bytes>& polls) {
  std::lock_guard lock(mutex_);
  queuedPolls_.insert(queuedPolls_.end(), polls.begin(), polls.end());
}

void ScriptedValidator::SetAnswerDelay(uint8_t code, int ms) {
  std::lock_guard lock(mutex_);
  delays_[code] = ms;
}

size_t ScriptedValidator::QueuedPolls() const {
  std::lock_guard lock(mutex_);
  return queuedPolls_.size();
}

Bytes ScriptedValidator::Respond(const Bytes& request) {
  if (silent_ || request.size() < 4) return {};
  const uint8_t code = request[3];
  int delayMs = 0;
  {
    std::lock_guard lock(mutex_);
    const auto delay = delays_.find(code);
    if (delay != delays_.end()) delayMs = delay->second;
  }
  if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  std::lock_guard lock(mutex_);
  if (code == 0x33) {
    if (!queuedPolls_.empty()) {
      const Bytes data = queuedPolls_.front();
      queuedPolls_.erase(queuedPolls_.begin());
      return Answer(data);
    }
    return Answer(pollData_);
  }
  const auto it = answers_.find(code);
  return Answer(it != answers_.end() ? it->second : Bytes{0x00});
}

std::vector<uint8_t> ScriptedValidator::Codes() const {
  std::vector<uint8_t> codes;
  for (const Bytes& frame : peer.Requests()) {
    if (frame.size() > 3 && frame[3] != 0x00) codes.push_back(frame[3]);
  }
  return codes;
}

Bytes BillTableData() {
  Bytes data(120, 0);
  auto entry = [&](int k, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), data.begin() + 5 * k);
  };
  entry(0, {1, 'U', 'S', 'A', 0x00});
  entry(2, {5, 'U', 'S', 'A', 0x01});
  entry(5, {5, 'U', 'S', 'A', 0x00});
  entry(12, {1, 'R', 'U', 'S', 0x82});
  entry(23, {1, 'E', 'U', 'R', 0x02});
  return data;
}

Bytes IdentificationData() {
  Bytes data(34, 0);
  const std::string part = "BV-ZEL-3000";
  const std::string serial = "SN0042";
  std::copy(part.begin(), part.end(), data.begin());
  std::copy(serial.begin(), serial.end(), data.begin() + 15);
  data[32] = 0x01;
  return data;
}

// ---- When ----

When::When(std::function<bool()> condition, std::function<void()> action) {
  timer_.setInterval(10);
  QObject::connect(&timer_, &QTimer::timeout,
                   [this, condition = std::move(condition), action = std::move(action)] {
                     if (fired_ || !condition()) return;
                     fired_ = true;
                     timer_.stop();
                     action();
                   });
  timer_.start();
}

// ---- SimConsole ----

SimConsole::SimConsole(bvsim::Config config) : simPort(std::move(config)) {
  simPort.names.SetAll({sim.SlavePath()});
  form = std::make_unique<velkor::TMainForm>(velkor::TMainForm::Setup{&dialogs, {}});
  form->show();
}

SimConsole::~SimConsole() {
  form.reset();
}

void SimConsole::Detach() {
  simPort.names.SetAll({});
  const qsizetype boxes = dialogs.errorBoxes.size();
  Click(Button("BtnResetHard"));
  EXPECT_EQ(dialogs.errorBoxes.mid(boxes), QStringList{"BV hasn't found!"});
  dialogs.errorBoxes = dialogs.errorBoxes.mid(0, boxes);
}

QStringList SimConsole::Since(qsizetype from) const {
  const QStringList lines = Lines();
  EXPECT_LT(lines.size(), 101) << "the log is full; lines may have been dropped";
  return lines.mid(from);
}

QStringList SimConsole::From(const QString& first) const {
  const QStringList lines = Lines();
  EXPECT_LT(lines.size(), 101) << "the log is full; lines may have been dropped";
  const qsizetype at = lines.lastIndexOf(first);
  return at < 0 ? QStringList{} : lines.mid(at);
}

// ---- AttachedConsole ----

AttachedConsole::AttachedConsole(ScriptedValidator& validator) {
  ports.SetAll({});
  form = std::make_unique<velkor::TMainForm>(velkor::TMainForm::Setup{&dialogs, recorder.Opener()});
  form->show();
  EXPECT_EQ(dialogs.errorBoxes, QStringList{"BV hasn't found!"});
  dialogs.errorBoxes.clear();
  ports.SetAll({validator.peer.SlavePath()});
  Click(Button("BtnResetSoft"));
  EXPECT_EQ(LogLines(*form).value(1), "The device is found in COM1!");
}

AttachedConsole::~AttachedConsole() {
  form.reset();
}

QStringList AttachedConsole::LinesSince(int from) const {
  const QStringList lines = LogLines(*form);
  if (lines.size() >= 101) ADD_FAILURE() << "the log is full; lines may have been dropped";
  return lines.mid(from);
}

int AttachedConsole::LineCount() const {
  return static_cast<int>(LogLines(*form).size());
}

void Click(QWidget* button) {
  QTest::mouseClick(button, Qt::LeftButton);
}

void RunPollLoop(QWidget& form, const std::function<bool()>& stopWhen, int limitMs,
                 bool* timedOut) {
  QPushButton* stopPoll = Control(form, "BtnStopPoll");
  When stop(stopWhen, [stopPoll] { Click(stopPoll); });
  bool late = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    late = true;
    stopPoll->click();
  });
  watchdog.start(limitMs);
  Click(Control(form, "BtnStartPoll"));
  if (timedOut) *timedOut = late;
  EXPECT_FALSE(late) << "the poll loop was stopped by the watchdog";
}

}  // namespace velkor::test
