// Velkor's session log: every line of the message log, byte traces included, also goes to a file
// of this run, each line behind a time stamp to the millisecond, so that nothing scrolled out of
// the window's 101 lines is lost. One file per run in $XDG_STATE_HOME/Velkor/logs
// (~/.local/state/Velkor/logs when unset), named velkor-YYYYMMDD-HHMMSS.log; the newest 50 are
// kept. A log that cannot be written says so once on standard error and is left off; the window
// never notices.
#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>

class QPlainTextEdit;
class QWidget;

namespace velkor {

class ConsoleDialogs;

class SessionLog {
 public:
  static constexpr int kKeepFiles = 50;

  // Opens a new log file in `folder` (created when missing) named after `started`, then removes
  // the oldest session logs beyond `keep`, this one included in the count.
  explicit SessionLog(const QString& folder = DefaultFolder(),
                      const QDateTime& started = QDateTime::currentDateTime(),
                      int keep = kKeepFiles);

  SessionLog(const SessionLog&) = delete;
  SessionLog& operator=(const SessionLog&) = delete;

  // $XDG_STATE_HOME/Velkor/logs, or ~/.local/state/Velkor/logs.
  static QString DefaultFolder();
  // "velkor-YYYYMMDD-HHMMSS.log" for a run started at `started`.
  static QString FileNameFor(const QDateTime& started);

  // True while lines go to the file.
  bool IsOpen() const { return file_.isOpen(); }
  QString FilePath() const { return file_.fileName(); }
  QString Folder() const { return folder_; }

  // Writes the text, one stamped line per line of it, straight through to the file.
  void Add(const QString& text);

  // Copies everything logged so far into `path`, replacing it. On failure returns false with the
  // reason in `error`.
  bool SaveAs(const QString& path, QString* error = nullptr);

 private:
  void Fail(const QString& what);
  void RemoveOldest(int keep);

  QString folder_;
  QFile file_;
};

// The log area's context menu: the usual entries, then "Save Log As..." (the whole session log
// to a file the operator picks) and "Open Log Folder". Both are disabled when the log is off.
void AddSessionLogMenu(QPlainTextEdit& memo, SessionLog& log, ConsoleDialogs& dialogs);

}  // namespace velkor
