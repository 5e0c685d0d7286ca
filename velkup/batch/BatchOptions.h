// velkup-batch's command line:
//   velkup-batch --port PORT [--port PORT ...] [OPTION ...] IMAGE
// Every option is one row of a table (BatchOptionTable): its name, value and help, and what its
// value does to TBatchOptions. QCommandLineParser splits the arguments; the help lists the table.
#pragma once

#include <QCommandLineOption>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace velkup {

struct TBatchOptions {
  QStringList ports;    // as given: "COM3" or a device path
  int bvTypeIndex = 1;  // 0 "qa" (address 0x01), 1 "qb" ("QB, QC", 0x03)
  uint32_t baud = 19200;
  std::array<bool, 3> images{true, true, true};  // in the order of kImages
  QString reportFile;
  QString imageFile;
  bool watch = false;       // every unit plugged into a port, until stopped
  bool verify = true;       // check that each unit comes back after its update
  int verifyTimeoutS = 30;  // how long it may take
  // --history: print the update history (of one serial number when set) and exit.
  bool history = false;
  QString serialNumber;
  bool csv = false;
};

// One option of velkup-batch.
struct TBatchOption {
  QCommandLineOption option;  // names, help text and value name (none for a flag)
  bool repeatable = false;    // may be given more than once; otherwise twice is an error
  // Takes one value (every value in turn for a repeatable option, an empty one for a flag) into
  // the options; returns what is wrong with it, or an empty string.
  std::function<QString(const QString& value, TBatchOptions& options)> take;
};

// The options besides --help and --version, in the order the help lists them and their values
// are taken.
const std::vector<TBatchOption>& BatchOptionTable();

enum class TBatchCommand { Run, Help, Version, Error };

// Reads the arguments after the program name. On Error, message is one line saying what is
// wrong; nothing has been opened or sent.
TBatchCommand ParseBatchOptions(const QStringList& args, TBatchOptions& options, QString& message);

QString BatchUsage();
QString BatchVersion();

}  // namespace velkup
