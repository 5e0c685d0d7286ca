#include "SessionLog.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "ConsoleDialogs.h"

namespace velkor {

namespace {

// A run started within the same second as another gets a suffix: velkor-...-HHMMSS_2.log.
constexpr int kMaxSameSecond = 99;

const QRegularExpression& SessionFileName() {
  static const QRegularExpression re(QStringLiteral(R"(^velkor-\d{8}-\d{6}(_\d{1,2})?\.log$)"));
  return re;
}

}  // namespace

QString SessionLog::DefaultFolder() {
  QString state = qEnvironmentVariable("XDG_STATE_HOME");
  // A relative XDG path is invalid and ignored, as the base directory rules say.
  if (state.isEmpty() || QDir::isRelativePath(state)) {
    state = QDir::homePath() + QStringLiteral("/.local/state");
  }
  return state + QStringLiteral("/Velkor/logs");
}

QString SessionLog::FileNameFor(const QDateTime& started) {
  return started.toString(QStringLiteral("'velkor-'yyyyMMdd-HHmmss'.log'"));
}

SessionLog::SessionLog(const QString& folder, const QDateTime& started, int keep)
    : folder_(folder) {
  if (!QDir().mkpath(folder_)) {
    Fail(QStringLiteral("cannot create the folder %1").arg(folder_));
    return;
  }
  const QString name = FileNameFor(started);
  for (int n = 1; n <= kMaxSameSecond && !file_.isOpen(); ++n) {
    QString candidate = name;
    if (n > 1) candidate.insert(candidate.size() - 4, QStringLiteral("_%1").arg(n));
    file_.setFileName(QDir(folder_).filePath(candidate));
    if (file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Text)) break;
    if (!file_.exists()) break;  // not a name clash: the folder refuses the file
  }
  if (!file_.isOpen()) {
    Fail(QStringLiteral("cannot create %1: %2").arg(file_.fileName(), file_.errorString()));
    return;
  }
  RemoveOldest(keep);
}

void SessionLog::Fail(const QString& what) {
  std::fprintf(stderr, "velkor: session log off: %s\n", qPrintable(what));
  if (file_.isOpen()) file_.close();
}

void SessionLog::RemoveOldest(int keep) {
  QDir dir(folder_);
  QStringList logs = dir.entryList({QStringLiteral("velkor-*.log")}, QDir::Files, QDir::Name);
  logs = logs.filter(SessionFileName());
  // Names sort by their time stamps, then by the suffix of a run in the same second.
  const auto key = [](const QString& name) {
    const qsizetype underscore = name.indexOf(QLatin1Char('_'));
    const int suffix = underscore < 0 ? 1 : name.mid(underscore + 1).chopped(4).toInt();
    return std::pair(name.left(22), suffix);
  };
  std::sort(logs.begin(), logs.end(),
            [&key](const QString& a, const QString& b) { return key(a) < key(b); });
  const QString own = QFileInfo(file_.fileName()).fileName();
  for (qsizetype i = 0; i + keep < logs.size(); ++i) {
    if (logs[i] != own) dir.remove(logs[i]);
  }
}

void SessionLog::Add(const QString& text) {
  if (!file_.isOpen()) return;
  const QByteArray stamp =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")).toUtf8();
  QByteArray out;
  for (const QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
    out += stamp;
    out += line.toUtf8();
    out += '\n';
  }
  if (file_.write(out) != out.size() || !file_.flush()) {
    Fail(QStringLiteral("cannot write %1: %2").arg(file_.fileName(), file_.errorString()));
  }
}

bool SessionLog::SaveAs(const QString& path, QString* error) {
  const auto fail = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  if (!IsOpen()) return fail(QStringLiteral("the session log is off"));
  file_.flush();
  const QFileInfo target(path);
  if (target.exists() && target.canonicalFilePath() == QFileInfo(file_).canonicalFilePath()) {
    return true;  // already there
  }
  QFile source(file_.fileName());
  if (!source.open(QIODevice::ReadOnly)) return fail(source.errorString());
  QSaveFile copy(path);
  if (!copy.open(QIODevice::WriteOnly)) return fail(copy.errorString());
  while (!source.atEnd()) {
    const QByteArray chunk = source.read(64 * 1024);
    if (chunk.isEmpty() && source.error() != QFileDevice::NoError)
      return fail(source.errorString());
    if (copy.write(chunk) != chunk.size()) return fail(copy.errorString());
  }
  if (!copy.commit()) return fail(copy.errorString());
  return true;
}

void AddSessionLogMenu(QPlainTextEdit& memo, SessionLog& log, ConsoleDialogs& dialogs) {
  auto* save = new QAction(QStringLiteral("Save Log As..."), &memo);
  auto* open = new QAction(QStringLiteral("Open Log Folder"), &memo);
  save->setEnabled(log.IsOpen());
  open->setEnabled(log.IsOpen());
  memo.addAction(save);
  memo.addAction(open);

  QObject::connect(save, &QAction::triggered, &memo, [&memo, &log, &dialogs] {
    const QString path = dialogs.SaveFile(memo.window(), QStringLiteral("Log-Files(*.log)|*.log"),
                                          QFileInfo(log.FilePath()).fileName());
    if (path.isEmpty()) return;
    QString error;
    if (!log.SaveAs(path, &error)) {
      dialogs.ErrorBox(memo.window(),
                       QStringLiteral("The log is not saved to %1: %2").arg(path, error));
    }
  });
  QObject::connect(open, &QAction::triggered, &memo,
                   [&log, &dialogs] { dialogs.OpenFolder(log.Folder()); });

  memo.setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(&memo, &QWidget::customContextMenuRequested, &memo, [&memo](const QPoint& at) {
    QMenu* menu = memo.createStandardContextMenu();
    menu->setParent(&memo, menu->windowFlags());  // owned by the log area, deleted when closed
    menu->setObjectName(QStringLiteral("LogContextMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    menu->addActions(memo.actions());
    menu->popup(memo.viewport()->mapToGlobal(at));
  });
}

}  // namespace velkor
