// zelnet-ports: what COM1 to COM8 mean on this machine and whether each can be opened, the serial
// adapters plugged in, and the user's or the system's port map edited by port name.
//   zelnet-ports [--json]                      the table of COM1 to COM8
//   zelnet-ports adapters [--json]             every serial adapter and built-in port
//   zelnet-ports [--system] set COM<n> TARGET  name a port (an adapter's kernel name: its lasting
//   name) zelnet-ports [--system] unset COM<n>
// Exit status: 0 every named port is usable (or the edit is made), 1 one is not (or the edit
// failed), 2 bad usage.
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <cstdio>
#include <vector>

#include "Discovery.h"
#include "PortCheck.h"
#include "PortMap.h"
#include "PortMapFile.h"
#include "Target.h"

namespace {

using namespace zelnet_ports;

constexpr int kUsable = 0;
constexpr int kNotUsable = 1;
constexpr int kBadUsage = 2;

void Out(const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), stdout);
}

void Err(const QString& line) {
  std::fprintf(stderr, "zelnet-ports: %s\n", line.toLocal8Bit().constData());
}

int Usage(const QString& why) {
  Err(why);
  Err(QStringLiteral("try zelnet-ports --help"));
  return kBadUsage;
}

void PrintJson(const QJsonObject& object) {
  Out(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)));
}

// Columns padded to their widest cell, two blanks apart; the last column is not padded.
QString Table(const std::vector<QStringList>& rows) {
  std::vector<qsizetype> widths;
  for (const QStringList& row : rows) {
    for (qsizetype i = 0; i < row.size(); ++i) {
      if (static_cast<size_t>(i) >= widths.size()) widths.push_back(0);
      widths[static_cast<size_t>(i)] = std::max(widths[static_cast<size_t>(i)], row[i].size());
    }
  }
  QString out;
  for (const QStringList& row : rows) {
    QString line;
    for (qsizetype i = 0; i < row.size(); ++i) {
      line +=
          i + 1 < row.size() ? row[i].leftJustified(widths[static_cast<size_t>(i)] + 2) : row[i];
    }
    out += line.trimmed() + QLatin1Char('\n');
  }
  return out;
}

// Every port with hardware, with what Qt's serial port information adds on a real machine.
std::vector<Adapter> Adapters() {
  std::vector<Adapter> adapters = DiscoverPorts();
  if (!SystemRoot().isEmpty()) return adapters;  // a test's tree: sysfs is all there is
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    for (Adapter& a : adapters) {
      if (a.kernelName != info.portName()) continue;
      if (a.description.isEmpty()) a.description = info.description();
      if (a.manufacturer.isEmpty()) a.manufacturer = info.manufacturer();
      if (a.serialNumber.isEmpty()) a.serialNumber = info.serialNumber();
      if (!a.hasIds && info.hasVendorIdentifier() && info.hasProductIdentifier()) {
        a.vendorId = info.vendorIdentifier();
        a.productId = info.productIdentifier();
        a.hasIds = true;
      }
    }
  }
  return adapters;
}

int List(bool json) {
  const std::vector<Adapter> adapters = DiscoverPorts();
  QJsonArray ports;
  std::vector<QStringList> rows{{"PORT", "TARGET", "SOURCE", "STATE"}};
  QStringList notes;
  bool allUsable = true;
  for (int n = 1; n <= kMapPorts; ++n) {
    const Resolution r = Resolve(QStringLiteral("COM%1").arg(n));
    const PortCheck check = CheckTarget(r.target, /*probeNetwork=*/true);
    if (!r.target.isEmpty() && !check.Usable()) allUsable = false;
    QString where = SourceText(r.source);
    QJsonObject port{{"name", r.name},
                     {"target", r.target.isEmpty() ? QJsonValue() : QJsonValue(r.target)},
                     {"source", where},
                     {"state", StateText(check.state)}};
    if (!r.file.isEmpty()) {
      port["file"] = r.file;
      port["line"] = r.line;
    }
    if (const Adapter* a = r.target.isEmpty() ? nullptr : FindAdapter(adapters, r.target))
      port["device"] = a->devicePath;
    if (!check.detail.isEmpty()) port["detail"] = check.detail;
    if (!check.fix.isEmpty()) port["fix"] = check.fix;
    if (check.remoteBaud) port["remote_baud"] = static_cast<qint64>(check.remoteBaud);
    ports.append(port);
    rows.push_back({r.name, r.target.isEmpty() ? QStringLiteral("-") : r.target, where,
                    StateText(check.state)});
    if (r.target.isEmpty() || check.state == PortState::Present) continue;
    QString note = r.name + QStringLiteral(": ") + check.Reason();
    if (!check.fix.isEmpty()) note += QStringLiteral("; fix: ") + check.fix;
    notes << note;
  }
  if (json) {
    PrintJson({{"ports", ports},
               {"user_map", UserMapPath()},
               {"system_map", SystemMapPath()},
               {"usable", allUsable}});
  } else {
    Out(Table(rows));
    for (const QString& note : notes) Out(note + QLatin1Char('\n'));
  }
  return allUsable ? kUsable : kNotUsable;
}

int ListAdapters(bool json) {
  const std::vector<Adapter> adapters = Adapters();
  // The COM names that reach each adapter now.
  std::vector<QStringList> names(adapters.size());
  for (int n = 1; n <= kMapPorts; ++n) {
    const Resolution r = Resolve(QStringLiteral("COM%1").arg(n));
    if (r.target.isEmpty()) continue;
    if (const Adapter* a = FindAdapter(adapters, r.target))
      names[static_cast<size_t>(a - adapters.data())]
          << QStringLiteral("%1 (%2)").arg(r.name, SourceText(r.source));
  }
  QJsonArray list;
  QString text;
  for (size_t i = 0; i < adapters.size(); ++i) {
    const Adapter& a = adapters[i];
    const QString ids = a.hasIds ? QStringLiteral("%1:%2")
                                       .arg(a.vendorId, 4, 16, QLatin1Char('0'))
                                       .arg(a.productId, 4, 16, QLatin1Char('0'))
                                 : QString();
    const auto orNull = [](const QString& s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); };
    list.append(QJsonObject{{"kernel_name", a.kernelName},
                            {"device", a.devicePath},
                            {"by_id", orNull(a.byId)},
                            {"by_path", orNull(a.byPath)},
                            {"lasting_name", LastingName(a)},
                            {"usb", a.usb},
                            {"driver", orNull(a.driver)},
                            {"description", orNull(a.description)},
                            {"manufacturer", orNull(a.manufacturer)},
                            {"serial_number", orNull(a.serialNumber)},
                            {"vid_pid", orNull(ids)},
                            {"com", QJsonArray::fromStringList(names[i])}});
    text += a.kernelName + QStringLiteral("  ") +
            (a.usb ? QStringLiteral("USB adapter") : QStringLiteral("built-in port"));
    if (!a.driver.isEmpty()) text += QStringLiteral(" (") + a.driver + QLatin1Char(')');
    text += QLatin1Char('\n');
    const auto field = [&text](const char* label, const QString& value) {
      if (!value.isEmpty())
        text += QStringLiteral("  %1%2\n").arg(QString::fromLatin1(label).leftJustified(15), value);
    };
    field("description:", a.description);
    field("manufacturer:", a.manufacturer);
    field("serial number:", a.serialNumber);
    field("VID:PID:", ids);
    field("by-id:", a.byId);
    field("by-path:", a.byPath);
    field("set as:", LastingName(a));
    field("now:",
          names[i].isEmpty() ? QStringLiteral("no COM name") : names[i].join(QStringLiteral(", ")));
  }
  if (json) {
    PrintJson({{"adapters", list}});
  } else if (adapters.empty()) {
    Out(QStringLiteral("No serial adapters or built-in serial ports found.\n"));
  } else {
    Out(text);
  }
  return kUsable;
}

// The map a command edits.
QString MapPath(bool system) {
  return system ? SystemMapPath() : UserMapPath();
}

int SaveFailed(const QString& path, const QString& error, bool system, const QStringList& args) {
  Err(QStringLiteral("cannot write %1: %2").arg(path, error));
  if (system && geteuid() != 0) {
    Err(QStringLiteral("the system map needs root: sudo zelnet-ports --system %1")
            .arg(args.join(QLatin1Char(' '))));
  }
  return kNotUsable;
}

int ComArgument(const QString& text) {
  const int n = ComNumber(text);
  return n >= 1 && n <= kMapPorts ? n : 0;
}

int Set(const QStringList& args, bool system) {
  const int n = ComArgument(args.value(1));
  if (args.size() != 3 || n == 0)
    return Usage(
        QStringLiteral("usage: zelnet-ports [--system] set COM<n> TARGET (n from 1 to 8)"));
  QString target = args[2];
  if (!target.contains(QLatin1Char('/')) && !target.contains(QLatin1Char(':'))) {
    // An adapter by its kernel name: the name of it that lasts.
    const std::vector<Adapter> adapters = Adapters();
    const Adapter* a = FindAdapter(adapters, target);
    if (!a) {
      Err(QStringLiteral("no adapter %1 on this machine (zelnet-ports adapters lists them)")
              .arg(target));
      return kNotUsable;
    }
    target = LastingName(*a);
  }
  QString why;
  if (!ParseTarget(target, &why))
    return Usage(QStringLiteral("bad target %1: %2").arg(target, why));

  const QString path = MapPath(system);
  PortMapFile map = PortMapFile::Load(path);
  map.Set(n, target);
  QString error;
  if (!map.Save(&error)) return SaveFailed(path, error, system, args);
  Out(QStringLiteral("COM%1 = %2 (in %3)\n").arg(n).arg(target, path));
  const PortCheck check = CheckTarget(target);
  if (check.state == PortState::Missing)
    Out(QStringLiteral("note: %1 is not there now\n").arg(target));
  if (qEnvironmentVariableIsSet(qPrintable(QStringLiteral("ZELNET_COM%1").arg(n))))
    Out(QStringLiteral("note: ZELNET_COM%1 is set in this environment and goes before the map\n")
            .arg(n));
  const Resolution now = Resolve(QStringLiteral("COM%1").arg(n));
  if (system && now.source == Source::UserMap)
    Out(QStringLiteral("note: your user map %1 names COM%2 too and goes before it\n")
            .arg(now.file)
            .arg(n));
  return kUsable;
}

int Unset(const QStringList& args, bool system) {
  const int n = ComArgument(args.value(1));
  if (args.size() != 2 || n == 0)
    return Usage(QStringLiteral("usage: zelnet-ports [--system] unset COM<n> (n from 1 to 8)"));
  const QString path = MapPath(system);
  PortMapFile map = PortMapFile::Load(path);
  if (!map.Unset(n)) {
    Out(QStringLiteral("COM%1 is not named in %2\n").arg(n).arg(path));
    return kUsable;
  }
  QString error;
  if (!map.Save(&error)) return SaveFailed(path, error, system, args);
  const Resolution now = Resolve(QStringLiteral("COM%1").arg(n));
  Out(QStringLiteral("COM%1 removed from %2; it is now %3 (%4)\n")
          .arg(n)
          .arg(path, now.target.isEmpty() ? QStringLiteral("unassigned") : now.target,
               SourceText(now.source)));
  return kUsable;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("zelnet-ports"));
  QCoreApplication::setApplicationVersion(QStringLiteral(ZELNET_PORTS_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "The serial ports COM1 to COM8 of Velkor and Velkup: where each leads, where that comes\n"
      "from (environment ZELNET_COM<n>, user map ~/.config/zelnet/ports.conf, system map\n"
      "/etc/zelnet/ports.conf, automatic numbering) and whether it can be opened."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON (listings)."));
  const QCommandLineOption system(
      QStringLiteral("system"),
      QStringLiteral("Edit the system map /etc/zelnet/ports.conf (root)."));
  parser.addOption(json);
  parser.addOption(system);
  parser.addPositionalArgument(
      QStringLiteral("command"),
      QStringLiteral("list (default), adapters, set COM<n> TARGET, unset COM<n>"),
      QStringLiteral("[command]"));
  if (!parser.parse(app.arguments())) return Usage(parser.errorText());
  if (parser.isSet(QStringLiteral("help"))) {
    Out(parser.helpText());
    return kUsable;
  }
  if (parser.isSet(QStringLiteral("version"))) {
    Out(QStringLiteral("zelnet-ports %1\n").arg(QCoreApplication::applicationVersion()));
    return kUsable;
  }

  const QStringList args = parser.positionalArguments();
  const QString command = args.value(0, QStringLiteral("list"));
  const bool edit = command == QLatin1String("set") || command == QLatin1String("unset");
  if (parser.isSet(system) && !edit)
    return Usage(QStringLiteral("--system goes with set and unset"));
  if (parser.isSet(json) && edit) return Usage(QStringLiteral("--json goes with the listings"));
  if (command == QLatin1String("list")) {
    if (args.size() > 1) return Usage(QStringLiteral("list takes no arguments"));
    return List(parser.isSet(json));
  }
  if (command == QLatin1String("adapters")) {
    if (args.size() > 1) return Usage(QStringLiteral("adapters takes no arguments"));
    return ListAdapters(parser.isSet(json));
  }
  if (command == QLatin1String("set")) return Set(args, parser.isSet(system));
  if (command == QLatin1String("unset")) return Unset(args, parser.isSet(system));
  return Usage(QStringLiteral("unknown command %1").arg(command));
}
