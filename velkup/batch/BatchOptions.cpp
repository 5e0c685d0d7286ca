#include "BatchOptions.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include "Commdrv.h"
#include "PortMap.h"
#include "Target.h"
#include "UpdateHistory.h"

#ifndef VELKUP_BATCH_VERSION
#define VELKUP_BATCH_VERSION "0"
#endif

namespace velkup {

namespace {

// The device behind a port, to tell two names of one port apart. A COM name that names nothing
// now is only itself.
QString PortIdentity(const QString& port) {
  const QString path = ResolvePortName(port);
  if (path.isEmpty()) return port.toUpper();
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? path : canonical;
}

QString TakePort(const QString& value, TBatchOptions& o) {
  if (zelnet_ports::ComNumber(value) == 0 && !zelnet_ports::ParseTarget(value)) {
    return QStringLiteral(
               "--port %1 is neither COM<n> nor a port map target (a device path, "
               "rfc2217://HOST:PORT, tcp://HOST:PORT, ...)")
        .arg(value);
  }
  const QString id = PortIdentity(value);
  for (const QString& earlier : o.ports)
    if (PortIdentity(earlier) == id) return QStringLiteral("port %1 is given twice").arg(value);
  o.ports << value;
  return {};
}

QString TakeFamily(const QString& value, TBatchOptions& o) {
  if (value == QLatin1String("qa"))
    o.bvTypeIndex = 0;
  else if (value == QLatin1String("qb"))
    o.bvTypeIndex = 1;
  else
    return QStringLiteral("--family must be qa or qb, not \"%1\"").arg(value);
  return {};
}

QString TakeBaud(const QString& value, TBatchOptions& o) {
  if (value == QLatin1String("9600"))
    o.baud = 9600;
  else if (value == QLatin1String("19200"))
    o.baud = 19200;
  else
    return QStringLiteral("--baud must be 9600 or 19200, not \"%1\"").arg(value);
  return {};
}

QString TakeImages(const QString& value, TBatchOptions& o) {
  if (value.isEmpty()) return QStringLiteral("--images needs at least one image");
  o.images = {false, false, false};
  for (const QString& name : value.split(QLatin1Char(','))) {
    bool known = false;
    for (size_t k = 0; k < kImages.size(); ++k)
      if (name == QLatin1String(ImageKey(kImages[k].image))) {
        o.images[k] = true;
        known = true;
      }
    if (!known)
      return QStringLiteral("unknown image \"%1\" in --images (encryption, bvcontrol, validation)")
          .arg(name);
  }
  return {};
}

QString TakeReport(const QString& value, TBatchOptions& o) {
  if (value.isEmpty()) return QStringLiteral("--report needs a file name");
  o.reportFile = value;
  return {};
}

QString TakeVerifyTimeout(const QString& value, TBatchOptions& o) {
  bool ok = false;
  o.verifyTimeoutS = value.toInt(&ok);
  if (!ok || o.verifyTimeoutS < 1 || o.verifyTimeoutS > 3600)
    return QStringLiteral("--verify-timeout must be 1 to 3600 seconds, not \"%1\"").arg(value);
  return {};
}

QString TakeSerial(const QString& value, TBatchOptions& o) {
  if (value.isEmpty()) return QStringLiteral("--serial needs a serial number");
  o.serialNumber = value;
  return {};
}

// A flag: sets its member.
template <bool TBatchOptions::*member, bool value = true>
QString Flag(const QString&, TBatchOptions& o) {
  o.*member = value;
  return {};
}

const QCommandLineOption kHelp({QStringLiteral("h"), QStringLiteral("help")},
                               QStringLiteral("show this help and exit"));
const QCommandLineOption kVersion(QStringLiteral("version"),
                                  QStringLiteral("show the version and exit"));

// "-h, --help" or "--port PORT", as the help lists an option.
QString OptionSynopsis(const QCommandLineOption& option) {
  QStringList names;
  for (const QString& n : option.names())
    names << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
  QString text = names.join(QStringLiteral(", "));
  if (!option.valueName().isEmpty()) text += QLatin1Char(' ') + option.valueName();
  return text;
}

// The option as the first of its names is written on the command line.
QString OptionName(const QCommandLineOption& option) {
  return QStringLiteral("--") + option.names().constFirst();
}

}  // namespace

const std::vector<TBatchOption>& BatchOptionTable() {
  static const std::vector<TBatchOption> table = {
      {QCommandLineOption(QStringLiteral("port"),
                          QStringLiteral("COM<n> as zelnet-ports shows it (ZELNET_COM<n>, the\n"
                                         "port maps, the automatic numbering) or a port map\n"
                                         "target: a device path such as /dev/ttyUSB0 or a\n"
                                         "network port; repeat for every port"),
                          QStringLiteral("PORT")),
       true, TakePort},
      {QCommandLineOption(QStringLiteral("family"),
                          QStringLiteral("validator family: qa answers at address 0x01, qb (QB, "
                                         "QC) at 0x03\n(default qb)"),
                          QStringLiteral("qa|qb")),
       false, TakeFamily},
      {QCommandLineOption(QStringLiteral("baud"), QStringLiteral("9600 or 19200 (default 19200)"),
                          QStringLiteral("RATE")),
       false, TakeBaud},
      {QCommandLineOption(QStringLiteral("images"),
                          QStringLiteral("the images to write, comma-separated (default all "
                                         "three):\nencryption, bvcontrol, validation"),
                          QStringLiteral("LIST")),
       false, TakeImages},
      {QCommandLineOption(QStringLiteral("report"),
                          QStringLiteral("write a JSON report of what was written where"),
                          QStringLiteral("FILE")),
       false, TakeReport},
      {QCommandLineOption(QStringLiteral("no-verify"),
                          QStringLiteral("do not check that each unit comes back after its "
                                         "update")),
       false, Flag<&TBatchOptions::verify, false>},
      {QCommandLineOption(QStringLiteral("verify-timeout"),
                          QStringLiteral("how long a unit may take to come back (default 30)"),
                          QStringLiteral("SECONDS")),
       false, TakeVerifyTimeout},
      {QCommandLineOption(QStringLiteral("watch"),
                          QStringLiteral("keep every port watched and update each unit plugged "
                                         "in,\none after the other, until Ctrl-C")),
       false, Flag<&TBatchOptions::watch>},
      {QCommandLineOption(QStringLiteral("history"),
                          QStringLiteral("print the update history instead (no PORT, no "
                                         "IMAGE)")),
       false, Flag<&TBatchOptions::history>},
      {QCommandLineOption(QStringLiteral("serial"),
                          QStringLiteral("with --history: only this unit's lines"),
                          QStringLiteral("SN")),
       false, TakeSerial},
      {QCommandLineOption(QStringLiteral("csv"),
                          QStringLiteral("with --history: CSV for a spreadsheet")),
       false, Flag<&TBatchOptions::csv>},
  };
  return table;
}

QString BatchUsage() {
  QString text = QStringLiteral(
      "usage: velkup-batch --port PORT [--port PORT ...] [OPTION ...] IMAGE\n"
      "       velkup-batch --history [--serial SN] [--csv]\n"
      "Writes the firmware image file IMAGE into the validators on every PORT at once,\n"
      "identifying each unit before and checking that it comes back after.\n"
      "\n");
  std::vector<const QCommandLineOption*> listed;
  for (const TBatchOption& o : BatchOptionTable()) listed.push_back(&o.option);
  listed.push_back(&kHelp);
  listed.push_back(&kVersion);
  constexpr qsizetype kColumn = 17;
  for (const QCommandLineOption* o : listed) {
    const QString synopsis = OptionSynopsis(*o);
    text += QStringLiteral("  ") + synopsis.leftJustified(kColumn - 1);
    text += synopsis.size() >= kColumn ? QLatin1Char('\n') + QString(kColumn + 2, ' ')
                                       : QString(QLatin1Char(' '));
    text +=
        o->description().replace(QLatin1Char('\n'), QLatin1Char('\n') + QString(kColumn + 2, ' ')) +
        QLatin1Char('\n');
  }
  text += QStringLiteral(
      "\n"
      "Exit status: 0 when every unit was written and came back (with --watch: every unit\n"
      "ok or already done), 1 when any failed or the run was stopped before the end, 2 for a\n"
      "bad option, an image file that cannot be used or a history that cannot be read.\n");
  return text;
}

QString BatchVersion() {
  return QStringLiteral("velkup-batch " VELKUP_BATCH_VERSION);
}

TBatchCommand ParseBatchOptions(const QStringList& args, TBatchOptions& o, QString& message) {
  auto error = [&](const QString& text) {
    message = QStringLiteral("velkup-batch: ") + text + QStringLiteral(" (see --help)");
    return TBatchCommand::Error;
  };
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addOption(kHelp);
  parser.addOption(kVersion);
  for (const TBatchOption& row : BatchOptionTable()) parser.addOption(row.option);
  if (!parser.parse(QStringList{QStringLiteral("velkup-batch")} + args)) {
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) return error(QStringLiteral("unknown option --") + unknown.first());
    // QCommandLineParser's own words for a missing or unexpected value, as one line.
    QString why = parser.errorText();
    if (why.endsWith(QLatin1Char('.'))) why.chop(1);
    if (!why.isEmpty()) why[0] = why[0].toLower();
    return error(why);
  }
  if (parser.isSet(kHelp)) return TBatchCommand::Help;
  if (parser.isSet(kVersion)) return TBatchCommand::Version;

  for (const TBatchOption& row : BatchOptionTable()) {
    qsizetype given = 0;
    for (const QString& name : row.option.names()) given += parser.optionNames().count(name);
    if (given > 1 && !row.repeatable)
      return error(OptionName(row.option) + QStringLiteral(" is given twice"));
    const QStringList values = !row.option.valueName().isEmpty() ? parser.values(row.option)
                               : given > 0                       ? QStringList{QString()}
                                                                 : QStringList{};
    for (const QString& value : values)
      if (const QString wrong = row.take(value, o); !wrong.isEmpty()) return error(wrong);
  }
  const QStringList positional = parser.positionalArguments();
  if (o.history) {
    if (!o.ports.isEmpty() || !positional.isEmpty() || o.watch || !o.reportFile.isEmpty())
      return error(QStringLiteral("--history takes only --serial and --csv"));
    return TBatchCommand::Run;
  }
  if (!o.serialNumber.isEmpty() || o.csv)
    return error(QStringLiteral("--serial and --csv go with --history"));
  if (o.ports.isEmpty()) return error(QStringLiteral("no --port given"));
  if (positional.isEmpty()) return error(QStringLiteral("no image file given"));
  if (positional.size() > 1)
    return error(QStringLiteral("one image file expected, got %1").arg(positional.size()));
  o.imageFile = positional[0];
  return TBatchCommand::Run;
}

}  // namespace velkup
