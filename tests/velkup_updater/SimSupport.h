// Reading what bvsim received, the faults it is given and the update history, for Velkup's tests.
#pragma once

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "Commdrv.h"
#include "Frames.h"
#include "bvsim.h"

namespace velkup::test {

using Bytes = std::vector<uint8_t>;
using Cmds = std::vector<std::string>;

// A validator with room for all three images.
inline bvsim::Config VelkupValidator() {
  bvsim::Config c;
  c.firmwareSize = 0x80000;
  return c;
}

inline bool IsBlock(const bvsim::Frame& f) {
  return f.Command() == 0x50 && f.SubCommand() == 0x02;
}
inline uint32_t BlockAddress(const bvsim::Frame& f) {
  return f.bytes[7] | f.bytes[8] << 8 | f.bytes[9] << 16;
}

// Each frame as "33", "00", "30", "34", "50", "50 00", "50 01", "50 02", "50 03".
inline Cmds Commands(const std::vector<bvsim::Frame>& frames) {
  Cmds out;
  for (const auto& f : frames) {
    char text[8];
    if (f.SubCommand() >= 0)
      std::snprintf(text, sizeof text, "%02X %02X", f.Command(), f.SubCommand());
    else
      std::snprintf(text, sizeof text, "%02X", f.Command() & 0xFF);
    out.push_back(text);
  }
  return out;
}

inline std::vector<uint32_t> BlockAddresses(const std::vector<bvsim::Frame>& frames) {
  std::vector<uint32_t> out;
  for (const auto& f : frames)
    if (IsBlock(f)) out.push_back(BlockAddress(f));
  return out;
}

// The validator refuses the block at `address` with `code`.
inline bvsim::Fault RefusedBlock(uint32_t address, uint8_t code) {
  bvsim::Fault refuse;
  refuse.kind = bvsim::Fault::Refuse;
  refuse.command = 0x50;
  refuse.subCommand = 0x02;
  refuse.blockAddress = address;
  refuse.code = code;
  return refuse;
}

// What the simulator received before a mark the test sends itself on `port` (a COM name or a
// path) once the program under test is done with it: a Get Status request (0x31), which Velkup
// never sends. Whatever the program sent arrives before the mark, so what is missing then never
// came. Empty when the port could not be opened (the program still holds it) or the mark did not
// arrive within a generous deadline.
inline std::optional<std::vector<bvsim::Frame>> FramesBeforeMark(bvsim::Simulator& sim,
                                                                 const QString& port) {
  constexpr uint8_t kMark = 0x31;
  TCommDrv probe(nullptr);
  probe.SetPortName(port);
  probe.SetBaudRateValue(19200);
  if (!probe.Connect()) return std::nullopt;
  uint8_t frame[8];
  const size_t n = BuildFrame(0x03, &kMark, 1, frame);
  probe.SendData(frame, static_cast<uint32_t>(n));
  const auto isMark = [](const bvsim::Frame& f) { return f.Command() == kMark; };
  if (!sim.WaitForFrame(isMark, std::chrono::seconds(60))) return std::nullopt;
  probe.Disconnect();
  std::vector<bvsim::Frame> before;
  for (const auto& f : sim.ReceivedFrames()) {
    if (isMark(f)) break;
    before.push_back(f);
  }
  return before;
}

// The lines of the update history below `dataHome`, oldest first.
inline QList<QJsonObject> ReadHistory(const QString& dataHome) {
  QFile f(dataHome + "/Velkup/history.jsonl");
  QList<QJsonObject> lines;
  if (!f.open(QIODevice::ReadOnly)) return lines;
  while (!f.atEnd()) lines << QJsonDocument::fromJson(f.readLine()).object();
  return lines;
}

}  // namespace velkup::test
