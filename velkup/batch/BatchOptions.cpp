#include "BatchOptions.h"

#include <QFileInfo>
#include <QSet>

#include "Commdrv.h"
#include "UpdateHistory.h"

#ifndef VELKUP_BATCH_VERSION
#define VELKUP_BATCH_VERSION "0"
#endif

namespace velkup {

QString BatchUsage() {
  return QStringLiteral(
      "usage: velkup-batch --port PORT [--port PORT ...] [--family qa|qb] [--baud 9600|19200]\n"
      "                    [--images encryption,bvcontrol,validation] [--report FILE] IMAGE\n"
      "Writes the firmware image file IMAGE into the validators on every PORT at once.\n"
      "\n"
      "  --port PORT      COM<n> (ZELNET_COM<n> when set, else /dev/ttyS<n-1>) or a device\n"
      "                   path such as /dev/ttyUSB0; repeat for every port\n"
      "  --family qa|qb   validator family: qa answers at address 0x01, qb (QB, QC) at 0x03\n"
      "                   (default qb)\n"
      "  --baud RATE      9600 or 19200 (default 19200)\n"
      "  --images LIST    the images to write, comma-separated (default all three)\n"
      "  --report FILE    write a JSON report of what was written where\n"
      "  --help           show this help and exit\n"
      "  --version        show the version and exit\n"
      "\n"
      "Exit status: 0 when every port wrote every chosen image, 1 when any failed or the run\n"
      "was stopped, 2 for a bad option or an image file that cannot be used.\n");
}

QString BatchVersion() {
  return QStringLiteral("velkup-batch " VELKUP_BATCH_VERSION);
}

namespace {

// The device behind a port, to tell two names of one port apart.
QString PortIdentity(const QString& port) {
  const QString path = ResolvePortName(port);
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? path : canonical;
}

}  // namespace

TBatchCommand ParseBatchOptions(const QStringList& args, TBatchOptions& o, QString& message) {
  auto error = [&](const QString& text) {
    message = QStringLiteral("velkup-batch: ") + text + QStringLiteral(" (see --help)");
    return TBatchCommand::Error;
  };
  QStringList positional;
  QSet<QString> seenPorts;
  bool imagesGiven = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    QString arg = args[i];
    if (arg == QLatin1String("--")) {
      positional += args.mid(i + 1);
      break;
    }
    if (!arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
      positional << arg;
      continue;
    }
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) return TBatchCommand::Help;
    if (arg == QLatin1String("--version")) return TBatchCommand::Version;
    QString value;
    bool inlineValue = false;
    if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); eq > 0 && arg.startsWith("--")) {
      value = arg.mid(eq + 1);
      arg.truncate(eq);
      inlineValue = true;
    }
    static const QStringList withValue = {"--port", "--family", "--baud", "--images", "--report"};
    if (!withValue.contains(arg)) return error(QStringLiteral("unknown option %1").arg(arg));
    if (!inlineValue) {
      if (i + 1 >= args.size()) return error(QStringLiteral("%1 needs a value").arg(arg));
      value = args[++i];
    }
    if (arg == QLatin1String("--port")) {
      if (!ResolvePortName(value).startsWith(QLatin1Char('/')))
        return error(QStringLiteral("--port %1 is neither COM<n> nor a device path").arg(value));
      const QString id = PortIdentity(value);
      if (seenPorts.contains(id)) return error(QStringLiteral("port %1 is given twice").arg(value));
      seenPorts.insert(id);
      o.ports << value;
    } else if (arg == QLatin1String("--family")) {
      if (value == QLatin1String("qa"))
        o.bvTypeIndex = 0;
      else if (value == QLatin1String("qb"))
        o.bvTypeIndex = 1;
      else
        return error(QStringLiteral("--family must be qa or qb, not \"%1\"").arg(value));
    } else if (arg == QLatin1String("--baud")) {
      if (value == QLatin1String("9600"))
        o.baud = 9600;
      else if (value == QLatin1String("19200"))
        o.baud = 19200;
      else
        return error(QStringLiteral("--baud must be 9600 or 19200, not \"%1\"").arg(value));
    } else if (arg == QLatin1String("--images")) {
      if (imagesGiven) return error(QStringLiteral("--images is given twice"));
      imagesGiven = true;
      o.images = {false, false, false};
      if (value.isEmpty()) return error(QStringLiteral("--images needs at least one image"));
      for (const QString& name : value.split(QLatin1Char(','))) {
        bool known = false;
        for (size_t k = 0; k < kImages.size(); ++k)
          if (name == QLatin1String(ImageKey(kImages[k].image))) {
            o.images[k] = true;
            known = true;
          }
        if (!known)
          return error(QStringLiteral("unknown image \"%1\" in --images (encryption, bvcontrol, "
                                      "validation)")
                           .arg(name));
      }
    } else {
      if (value.isEmpty()) return error(QStringLiteral("--report needs a file name"));
      o.reportFile = value;
    }
  }
  if (o.ports.isEmpty()) return error(QStringLiteral("no --port given"));
  if (positional.isEmpty()) return error(QStringLiteral("no image file given"));
  if (positional.size() > 1)
    return error(QStringLiteral("one image file expected, got %1").arg(positional.size()));
  o.imageFile = positional[0];
  return TBatchCommand::Run;
}

}  // namespace velkup
