// velkup-batch's command line:
//   velkup-batch --port PORT [--port PORT ...] [--family qa|qb] [--baud 9600|19200]
//                [--images encryption,bvcontrol,validation] [--report FILE] IMAGE
#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>

namespace velkup {

struct TBatchOptions {
  QStringList ports;    // as given: "COM3" or a device path
  int bvTypeIndex = 1;  // 0 "qa" (address 0x01), 1 "qb" ("QB, QC", 0x03)
  uint32_t baud = 19200;
  std::array<bool, 3> images{true, true, true};  // in the order of kImages
  QString reportFile;
  QString imageFile;
};

enum class TBatchCommand { Run, Help, Version, Error };

// Reads the arguments after the program name. On Error, message is one line saying what is
// wrong; nothing has been opened or sent.
TBatchCommand ParseBatchOptions(const QStringList& args, TBatchOptions& options, QString& message);

QString BatchUsage();
QString BatchVersion();

}  // namespace velkup
