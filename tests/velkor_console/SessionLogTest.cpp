// Velkor's session log: the file of one run, its time stamps, the 50 files kept, a folder that
// cannot be written, and the window writing every log line and trace into it with the log area's
// "Save Log As..." and "Open Log Folder".
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "ConsoleRig.h"
#include "SessionLog.h"

using namespace velkor::test;
using velkor::SessionLog;

namespace {

const QRegularExpression kStamped(
    QStringLiteral(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (.*)$)"));

QStringList FileLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return {QStringLiteral("<unreadable>")};
  QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

// The lines of a session log without their stamps; every line must carry one.
QStringList Texts(const QString& path) {
  QStringList texts;
  for (const QString& line : FileLines(path)) {
    const auto match = kStamped.match(line);
    EXPECT_TRUE(match.hasMatch()) << line.toStdString();
    texts << match.captured(2);
  }
  return texts;
}

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void Touch(const QString& path) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

QAction* MenuAction(QPlainTextEdit& memo, const QString& text) {
  for (QAction* action : memo.actions())
    if (action->text() == text) return action;
  ADD_FAILURE() << "no action " << text.toStdString();
  return nullptr;
}

// XDG_STATE_HOME for the life of the object.
struct StateHome {
  QByteArray saved = qgetenv("XDG_STATE_HOME");
  explicit StateHome(const QString& path) { qputenv("XDG_STATE_HOME", path.toLocal8Bit()); }
  ~StateHome() { qputenv("XDG_STATE_HOME", saved); }
};

}  // namespace

TEST(SessionLog, WritesEachLineOfATextBehindAMillisecondStampIntoTheRunsFile) {
  QTemporaryDir dir;
  const QDateTime started(QDate(2024, 3, 9), QTime(7, 5, 3));
  SessionLog log(dir.filePath("Velkor/logs"), started);
  ASSERT_TRUE(log.IsOpen());
  EXPECT_EQ(log.FilePath(), dir.filePath("Velkor/logs/velkor-20240309-070503.log"));

  log.Add(QStringLiteral("* Idling"));
  log.Add(QStringLiteral("first\nsecond"));
  log.Add(QString());
  log.Add(QStringLiteral("-> 02 03 06 33 DA 81 \u00e9"));
  // Written through at once: a crash loses nothing already shown.
  EXPECT_EQ(Texts(log.FilePath()),
            (QStringList{"* Idling", "first", "second", "", "-> 02 03 06 33 DA 81 \u00e9"}));
  const QDateTime stamp = QDateTime::fromString(
      kStamped.match(FileLines(log.FilePath())[0]).captured(1), "yyyy-MM-dd HH:mm:ss.zzz");
  EXPECT_LE(std::abs(stamp.secsTo(QDateTime::currentDateTime())), 60);

  // A second run in the same second gets a file of its own.
  SessionLog again(dir.filePath("Velkor/logs"), started);
  EXPECT_EQ(again.FilePath(), dir.filePath("Velkor/logs/velkor-20240309-070503_2.log"));
  again.Add(QStringLiteral("other run"));
  EXPECT_EQ(Texts(log.FilePath()).size(), 5);
}

TEST(SessionLog, KeepsTheNewestFiftyRunsAndLeavesOtherFilesAlone) {
  QTemporaryDir dir;
  const QDateTime first(QDate(2023, 12, 31), QTime(23, 0, 0));
  for (int i = 0; i < 55; ++i) Touch(dir.filePath(SessionLog::FileNameFor(first.addSecs(60 * i))));
  Touch(dir.filePath("velkor-20231231-230000_2.log"));  // the same second as the oldest
  Touch(dir.filePath("velkor-notes.log"));
  Touch(dir.filePath("readme.txt"));

  SessionLog log(dir.path(), first.addDays(1));
  ASSERT_TRUE(log.IsOpen());
  QStringList left = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
  EXPECT_TRUE(left.contains("velkor-notes.log"));
  EXPECT_TRUE(left.contains("readme.txt"));
  left = left.filter(QRegularExpression(R"(^velkor-\d{8}-\d{6}(_\d+)?\.log$)"));
  ASSERT_EQ(left.size(), 50);
  // 57 runs: the seven oldest went (the plain name of the first minute, its _2, 23:01 ... 23:05).
  EXPECT_EQ(left.front(), SessionLog::FileNameFor(first.addSecs(60 * 6)));
  EXPECT_TRUE(left.contains(QFileInfo(log.FilePath()).fileName()));
}

TEST(SessionLog, AFolderThatCannotBeWrittenIsOneLineOnStandardErrorAndNothingElse) {
  QTemporaryDir dir;
  Touch(dir.filePath("plain-file"));
  testing::internal::CaptureStderr();
  SessionLog log(dir.filePath("plain-file/Velkor/logs"));  // below a file: even root fails
  log.Add(QStringLiteral("* Idling"));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(log.IsOpen());
  EXPECT_EQ(Occurrences(err, "velkor: session log off:"), 1) << err;
  QString why;
  EXPECT_FALSE(log.SaveAs(dir.filePath("copy.log"), &why));
  EXPECT_FALSE(why.isEmpty());
}

TEST(SessionLog, DefaultFolderFollowsXdgStateHomeElseTheHomeFolder) {
  {
    StateHome state(QStringLiteral("/srv/state"));
    EXPECT_EQ(SessionLog::DefaultFolder(), "/srv/state/Velkor/logs");
  }
  {
    StateHome state(QStringLiteral("relative/state"));  // not absolute: ignored
    EXPECT_EQ(SessionLog::DefaultFolder(), QDir::homePath() + "/.local/state/Velkor/logs");
  }
}

TEST(SessionLogWindow, EveryLineAndTraceGoesToTheFileWhileTheWindowKeeps101) {
  QTemporaryDir dir;
  StateHome state(dir.path());
  SimConsole console;
  velkor::TMainForm& form = *console.form;
  const QString path = SessionFile(dir.path());
  ASSERT_FALSE(path.isEmpty());

  // The start-up search that found the validator is already there, the COM name it tried first
  // told with its device and where that came from (the file only: the window keeps its texts).
  const QRegularExpression portLine("^COM[1-4]: ");
  QStringList texts = Texts(path);
  const QStringList ports = texts.filter(portLine);
  ASSERT_EQ(ports.size(), 1) << texts.join('\n').toStdString();
  EXPECT_TRUE(ports[0].startsWith("COM1: /dev/pts/")) << ports[0].toStdString();
  EXPECT_TRUE(ports[0].endsWith(" (environment)")) << ports[0].toStdString();
  EXPECT_EQ(texts.indexOf(ports[0]), 0);
  texts.removeIf([&](const QString& t) { return portLine.match(t).hasMatch(); });
  EXPECT_EQ(texts, LogLines(form));

  Control<QCheckBox>(form, "CheckBox1")->setChecked(true);
  for (int i = 0; i < 40; ++i) {
    Click(console.Button("BtnGetStatus"));  // a trace pair and five lines each
  }
  const QStringList window = LogLines(form);
  const QStringList file = Texts(path);
  EXPECT_EQ(window.size(), 101);
  ASSERT_GT(file.size(), 280);
  EXPECT_EQ(file.mid(file.size() - 101), window);
  EXPECT_EQ(file.filter(QRegularExpression("^-> 02, 03, 06, 31, C8, A2, $")).size(), 40);
  EXPECT_EQ(file.filter(QRegularExpression("^<- ")).size(), 40);
  EXPECT_EQ(file.count(QStringLiteral("*********  Bill types enable  ********")), 40);
}

TEST(SessionLogWindow, SaveLogAsCopiesTheWholeLogAndOpenLogFolderShowsItsFolder) {
  QTemporaryDir dir;
  StateHome state(dir.filePath("state"));
  SimConsole console;
  QPlainTextEdit& memo = *Control<QPlainTextEdit>(*console.form, "MemoMessage");
  const QString path = SessionFile(dir.filePath("state"));
  EXPECT_EQ(memo.contextMenuPolicy(), Qt::CustomContextMenu);
  for (int i = 0; i < 30; ++i) Click(console.Button("BtnGetStatus"));

  // A right click shows the usual entries, then the log's two.
  emit memo.customContextMenuRequested(QPoint(10, 10));
  auto* menu = memo.findChild<QMenu*>("LogContextMenu");
  ASSERT_NE(menu, nullptr);
  QStringList entries;
  for (QAction* action : menu->actions())
    if (!action->isSeparator()) entries << action->text().remove(QLatin1Char('&'));
  EXPECT_EQ(entries.mid(entries.size() - 2), (QStringList{"Save Log As...", "Open Log Folder"}));
  EXPECT_FALSE(entries.filter(QRegularExpression("^Select All")).isEmpty())
      << entries.join(", ").toStdString();
  menu->close();

  QAction* save = MenuAction(memo, "Save Log As...");
  QAction* open = MenuAction(memo, "Open Log Folder");
  ASSERT_TRUE(save && open);
  ASSERT_TRUE(save->isEnabled() && open->isEnabled());

  // Cancel writes nothing; a chosen file, even one already there, gets the whole log.
  console.dialogs.saveAnswer.clear();
  save->trigger();
  EXPECT_EQ(console.dialogs.saveSuggestions, QStringList{QFileInfo(path).fileName()});
  const QString target = dir.filePath("report.log");
  Touch(target);
  console.dialogs.saveAnswer = target;
  save->trigger();
  EXPECT_EQ(FileLines(target), FileLines(path));
  EXPECT_GT(FileLines(target).size(), 150);

  // A file that cannot be written is a box; the log goes on.
  console.dialogs.saveAnswer = dir.filePath("report.log/inside.log");
  save->trigger();
  ASSERT_EQ(console.dialogs.errorBoxes.size(), 1);
  EXPECT_TRUE(console.dialogs.errorBoxes[0].startsWith("The log is not saved to "));

  open->trigger();
  EXPECT_EQ(console.dialogs.openedFolders, QStringList{dir.filePath("state/Velkor/logs")});
}

TEST(SessionLogWindow, AnUnwritableLogLeavesTheWindowAsItIs) {
  QTemporaryDir dir;
  Touch(dir.filePath("file"));
  StateHome state(dir.filePath("file"));
  testing::internal::CaptureStderr();
  {
    SimConsole console;
    Click(console.Button("BtnGetStatus"));
    EXPECT_EQ(LogLines(*console.form).count("*********  Bill types enable  ********"), 1);
    EXPECT_FALSE(
        MenuAction(*Control<QPlainTextEdit>(*console.form, "MemoMessage"), "Save Log As...")
            ->isEnabled());
    EXPECT_TRUE(console.dialogs.errorBoxes.isEmpty());
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Occurrences(err, "velkor: session log off:"), 1) << err;
}
