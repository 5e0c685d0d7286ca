#include "console.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <sstream>

#include "describe.h"

namespace bvsim {

namespace {

using Words = std::vector<std::string>;

Words Split(const std::string& line) {
  Words w;
  std::istringstream in(line);
  for (std::string s; in >> s;) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    w.push_back(s);
  }
  return w;
}

// Decimal number, or hexadecimal with 0x.
bool Number(const std::string& s, long long& v, long long lo, long long hi) {
  int base = 10;
  std::string_view t = s;
  if (t.size() > 2 && t[0] == '0' && t[1] == 'x') {
    base = 16;
    t.remove_prefix(2);
  }
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v, base);
  return r.ec == std::errc() && r.ptr == t.data() + t.size() && v >= lo && v <= hi;
}

// A number in hexadecimal, 0x optional ("80", "0x80").
bool HexValue(const std::string& s, long long& v, long long hi) {
  std::string_view t = s;
  if (t.size() > 2 && t[0] == '0' && t[1] == 'x') t.remove_prefix(2);
  const auto r = std::from_chars(t.data(), t.data() + t.size(), v, 16);
  return r.ec == std::errc() && r.ptr == t.data() + t.size() && !t.empty() && v >= 0 && v <= hi;
}

bool HexByte(const std::string& s, uint8_t& b) {
  long long v = 0;
  if (!HexValue(s, v, 0xFF)) return false;
  b = uint8_t(v);
  return true;
}

Console::Result Error(const std::string& text) {
  return {{"error: " + text}, false, false};
}
Console::Result Done(const std::string& text) {
  return {{text}, true, false};
}

std::string Hex(unsigned v, int width) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*X", width, v);
  return b;
}

std::string Mask(const std::array<uint8_t, 3>& m) {
  return HexBytes({m.begin(), m.end()});
}

bool RejectCode(const std::string& s, uint8_t& code) {
  for (unsigned c = 0x60; c <= 0x95; ++c) {
    std::string name = RejectName(uint8_t(c));
    std::replace(name.begin(), name.end(), ' ', '-');
    if (!name.empty() && (name == s || name.substr(0, name.find('-')) == s)) {
      code = uint8_t(c);
      return true;
    }
  }
  return HexByte(s, code);
}

// Command codes by name for "fault" and "script": poll, reset, status...
bool CommandCode(const std::string& s, int& code) {
  static const std::pair<const char*, int> names[] = {{"ack", kAck},
                                                      {"reset", kReset},
                                                      {"getstatus", kGetStatus},
                                                      {"security", kSetSecurity},
                                                      {"poll", kPoll},
                                                      {"enable", kEnableBillTypes},
                                                      {"stack", kStack},
                                                      {"return", kReturn},
                                                      {"identification", kIdentification},
                                                      {"hold", kHold},
                                                      {"setupbarcode", kSetupBarcode},
                                                      {"barcode", kExtractBarcode},
                                                      {"billtable", kGetBillTable},
                                                      {"download", kDownload},
                                                      {"crc32", kCrc32},
                                                      {"statistics", kRequestStatistics},
                                                      {"any", kAny}};
  for (const auto& [name, c] : names) {
    if (s == name) {
      code = c;
      return true;
    }
  }
  uint8_t b = 0;
  if (!HexByte(s, b)) return false;
  code = b;
  return true;
}

}  // namespace

std::vector<std::string> Console::Help() {
  return {
      "Commands (codes and bytes in hexadecimal, 0x optional; counts and times in decimal):",
      "  insert N                 a bill of type N (0-23) at the bezel",
      "  coupon [DIGITS]          a barcode coupon (bill type 23)",
      "  reject REASON            reject the next bill: optic, magnetic, inhibit, length,",
      "                           identification, verification, ... or a code (67)",
      "  jam [acceptor|stacker] [on|off]   a jam (jam off clears it)",
      "  cassette out|in          cash box removed / put back",
      "  stacker full|ok          stacker full / emptied",
      "  failure CODE|off         a failure (0x47) with this code, e.g. 55",
      "  busy N                   the next N polls answer busy (1B)",
      "  power cycle [10|11|12]   power off and on",
      "  silent on|off            answer nothing at all",
      "  fault KIND [cmd=C] [sub=S] [block=I] [addr=A] [skip=N] [count=N|forever]",
      "        [ms=N] [bytes=N] [code=C]     inject a fault; KIND: silent late drip badcrc",
      "                           swapcrc invalid truncate wronglength overlength short refuse "
      "drop",
      "  faults clear             remove every fault",
      "  script poll XX [XX...]   data bytes of the next Poll answer (e.g. script poll 80 02)",
      "  script CMD XX [XX...]    data bytes of the next answer to command CMD (e.g. 31)",
      "  script clear             forget scripted answers",
      "  baud N                   pace the line at N baud (0: no pacing)",
      "  trace on|off             print every frame exchanged",
      "  status                   state, masks, counters, firmware CRC32",
      "  sleep MS                 pause (in scenario files)",
      "  wait idle|status XX|command CMD [MS]   wait for a state or a request (default 60000 ms)",
      "  help                     this list",
      "  quit                     stop the simulator",
  };
}

void Console::Interrupt() {
  std::lock_guard lock(mu_);
  interrupted_ = true;
  cv_.notify_all();
}

bool Console::Pause(std::chrono::milliseconds ms) {
  std::unique_lock lock(mu_);
  return !cv_.wait_for(lock, ms, [this] { return interrupted_; });
}

Console::Result Console::Run(const std::string& line) {
  Words w = Split(line);
  if (w.empty() || w[0][0] == '#') return {};
  const std::string& c = w[0];
  const size_t n = w.size();
  long long v = 0;
  uint8_t b = 0;

  if (c == "help" || c == "?") return {Help(), true, false};
  if (c == "quit" || c == "exit") return {{}, true, true};
  if (c == "status") return Status();
  if (c == "insert") {
    if (n != 2 || !Number(w[1], v, 0, kBillTypes - 1))
      return Error("insert takes a bill type 0-23");
    sim_.InsertBill(int(v));
    return Done("bill type " + std::to_string(v) + " at the bezel");
  }
  if (c == "coupon") {
    if (n > 2) return Error("coupon takes at most its digits");
    const std::string digits = n == 2 ? w[1] : "";
    if (digits.size() > size_t(kMaxBarcodeDigits) ||
        !std::all_of(digits.begin(), digits.end(), [](char ch) { return std::isdigit(ch); }))
      return Error("a coupon has up to 32 digits");
    sim_.InsertCoupon(digits);
    return Done("barcode coupon (bill type 23) at the bezel");
  }
  if (c == "reject") {
    if (n != 2 || !RejectCode(w[1], b)) return Error("reject takes a reason name or code");
    sim_.RejectNextBill(b);
    return Done("the next bill is rejected with reason " + Hex(b, 2));
  }
  if (c == "jam" || c == "unjam") {
    bool on = c == "jam";
    JamKind kind = JamKind::Acceptor;
    for (size_t i = 1; i < n; ++i) {
      if (w[i] == "acceptor")
        kind = JamKind::Acceptor;
      else if (w[i] == "stacker")
        kind = JamKind::Stacker;
      else if (w[i] == "on")
        on = true;
      else if (w[i] == "off")
        on = false;
      else
        return Error("jam [acceptor|stacker] [on|off]");
    }
    sim_.Jam(on, kind);
    return Done(std::string(kind == JamKind::Acceptor ? "acceptor" : "stacker") + " jam " +
                (on ? "on" : "cleared"));
  }
  if (c == "cassette") {
    if (n != 2 || (w[1] != "out" && w[1] != "in")) return Error("cassette out|in");
    sim_.SetCassetteOut(w[1] == "out");
    return Done("cassette " + w[1]);
  }
  if (c == "stacker") {
    if (n != 2 || (w[1] != "full" && w[1] != "ok")) return Error("stacker full|ok");
    sim_.SetStackerFull(w[1] == "full");
    return Done("stacker " + w[1]);
  }
  if (c == "failure") {
    if (n == 2 && w[1] == "off")
      b = 0;
    else if (n != 2 || !HexByte(w[1], b) || b == 0)
      return Error("failure CODE|off");
    sim_.SetFailure(b);
    return Done(b ? "failure " + Hex(b, 2) : "failure cleared");
  }
  if (c == "busy") {
    if (n != 2 || !Number(w[1], v, 0, 1000000)) return Error("busy takes a number of polls");
    sim_.SetBusy(int(v));
    return Done("busy for " + std::to_string(v) + " polls");
  }
  if (c == "power" || c == "powercycle") {
    size_t i = 1;
    if (c == "power") {
      if (n < 2 || w[1] != "cycle") return Error("power cycle [10|11|12]");
      i = 2;
    }
    if (n == i) {
      sim_.PowerCycle();
    } else if (n == i + 1 && HexByte(w[i], b) && b >= kPowerUp && b <= kPowerUpBillInStacker) {
      sim_.PowerCycle(b);
    } else {
      return Error("power cycle [10|11|12]");
    }
    return Done("power cycled");
  }
  if (c == "silent") {
    if (n != 2 || (w[1] != "on" && w[1] != "off")) return Error("silent on|off");
    sim_.SetSilent(w[1] == "on");
    return Done("silent " + w[1]);
  }
  if (c == "fault") return Fault(w);
  if (c == "faults") {
    if (n != 2 || w[1] != "clear") return Error("faults clear");
    sim_.ClearFaults();
    return Done("faults cleared");
  }
  if (c == "script") return Script(w);
  if (c == "baud") {
    if (n != 2 || !Number(w[1], v, 0, 10000000)) return Error("baud takes a number (0: off)");
    sim_.SetBaud(unsigned(v));
    return Done(v ? "paced at " + std::to_string(v) + " baud" : "pacing off");
  }
  if (c == "trace") {
    if (n != 2 || (w[1] != "on" && w[1] != "off")) return Error("trace on|off");
    trace_ = w[1] == "on";
    return Done("trace " + w[1]);
  }
  if (c == "sleep") {
    if (n != 2 || !Number(w[1], v, 0, 86400000)) return Error("sleep takes milliseconds");
    Pause(std::chrono::milliseconds(v));
    return {};
  }
  if (c == "wait") return Wait(w);
  return Error("unknown command \"" + c + "\" (help lists them)");
}

Console::Result Console::Status() const {
  const std::vector<uint8_t> poll = sim_.PollAnswer();
  std::string state = Hex(poll[0], 2) + " " + StatusName(poll[0]);
  if (poll.size() > 1) state += " (" + Hex(poll[1], 2) + ")";
  const Counters k = sim_.GetCounters();
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08X", unsigned(sim_.FirmwareCrc32()));
  std::string addresses;
  for (uint8_t a : sim_.GetConfig().addresses)
    addresses += (addresses.empty() ? "" : " ") + Hex(a, 2);
  Result r;
  r.lines.push_back("state " + state + "; enabled " + Mask(sim_.EnabledMask()) + ", escrow " +
                    Mask(sim_.EscrowMask()) + ", security " + Mask(sim_.SecurityMask()) +
                    "; barcode " + std::to_string(sim_.BarcodeLength()) + " digits");
  r.lines.push_back("bills: " + std::to_string(k.inserted) + " inserted, " +
                    std::to_string(k.stacked) + " stacked, " + std::to_string(k.returned) +
                    " returned, " + std::to_string(k.rejected) + " rejected; " +
                    std::to_string(k.jams) + " jams, " + std::to_string(k.failures) +
                    " failures; " + std::to_string(sim_.PendingBills()) + " waiting at the bezel");
  r.lines.push_back("line " + sim_.SlavePath() + (link_.empty() ? "" : " (link " + link_ + ")") +
                    ", addresses " + addresses + (sim_.InDownloadMode() ? ", download mode" : "") +
                    ", " + std::to_string(k.blocksWritten) + " blocks written, firmware CRC32 " +
                    crc);
  return r;
}

Console::Result Console::Fault(const Words& w) {
  static const std::pair<const char*, bvsim::Fault::Kind> kinds[] = {
      {"silent", Fault::Silent},
      {"late", Fault::Late},
      {"drip", Fault::Drip},
      {"badcrc", Fault::BadCrc},
      {"swapcrc", Fault::SwapCrc},
      {"invalid", Fault::Invalid},
      {"truncate", Fault::Truncate},
      {"wronglength", Fault::WrongLength},
      {"overlength", Fault::OverLength},
      {"short", Fault::ShortData},
      {"refuse", Fault::Refuse},
      {"drop", Fault::DropLine}};
  if (w.size() < 2) return Error("fault KIND [options] (help lists them)");
  bvsim::Fault f;
  bool known = false;
  for (const auto& [name, kind] : kinds) {
    if (w[1] == name) {
      f.kind = kind;
      known = true;
    }
  }
  if (!known) return Error("unknown fault \"" + w[1] + "\"");
  for (size_t i = 2; i < w.size(); ++i) {
    const size_t eq = w[i].find('=');
    if (eq == std::string::npos) return Error("fault options are name=value: " + w[i]);
    const std::string key = w[i].substr(0, eq), val = w[i].substr(eq + 1);
    long long v = 0;
    uint8_t b = 0;
    int code = 0;
    if (key == "cmd" && CommandCode(val, code))
      f.command = code;
    else if (key == "sub" && HexByte(val, b))
      f.subCommand = b;
    else if (key == "block" && Number(val, v, 0, 0xFFFFFF))
      f.blockIndex = v;
    else if (key == "addr" &&
             Number("0x" + (val.rfind("0x", 0) == 0 ? val.substr(2) : val), v, 0, 0xFFFFFF))
      f.blockAddress = v;
    else if (key == "skip" && Number(val, v, 0, 1 << 30))
      f.skip = int(v);
    else if (key == "count" && val == "forever")
      f.count = kForever;
    else if (key == "count" && Number(val, v, 1, 1 << 30))
      f.count = int(v);
    else if (key == "ms" && Number(val, v, 0, 600000))
      f.delayMs = int(v);
    else if (key == "bytes" && Number(val, v, 0, 65535))
      f.bytes = int(v);
    else if (key == "code" && HexByte(val, b))
      f.code = b;
    else
      return Error("bad fault option " + w[i]);
  }
  sim_.InjectFault(f);
  return Done("fault " + w[1] + " set");
}

Console::Result Console::Script(const Words& w) {
  if (w.size() == 2 && w[1] == "clear") {
    sim_.ClearScripts();
    return Done("scripts cleared");
  }
  int code = 0;
  if (w.size() < 3 || !CommandCode(w[1], code) || code == kAck)
    return Error("script poll|CMD XX [XX...]");
  std::vector<uint8_t> data;
  for (size_t i = 2; i < w.size(); ++i) {
    uint8_t b = 0;
    if (!HexByte(w[i], b)) return Error("bad byte " + w[i]);
    data.push_back(b);
  }
  sim_.ScriptAnswer(code, data);
  return Done("next answer to " + CommandName(code) + ": " + HexBytes(data));
}

Console::Result Console::Wait(const Words& w) {
  const Result usage = Error("wait idle|status XX|command CMD [MS]");
  if (w.size() < 2) return usage;
  const size_t args = w[1] == "idle" ? 2 : 3;
  long long ms = 60000;
  if ((w.size() != args && w.size() != args + 1) ||
      (w.size() == args + 1 && !Number(w.back(), ms, 0, 86400000)))
    return usage;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  if (w[1] == "idle" || w[1] == "status") {
    uint8_t want = kIdling;
    if (w[1] == "status" && !HexByte(w[2], want)) return usage;
    while (sim_.StatusCode() != want) {
      if (std::chrono::steady_clock::now() >= end) return Error("wait timed out");
      if (!Pause(std::chrono::milliseconds(20))) return {};
    }
    return {};
  }
  int code = 0;
  if (w[1] != "command" || !CommandCode(w[2], code) || code == kAny) return usage;
  while (!sim_.WaitForCommand(uint8_t(code), std::chrono::milliseconds(50))) {
    if (std::chrono::steady_clock::now() >= end) return Error("wait timed out");
    if (!Pause(std::chrono::milliseconds(0))) return {};
  }
  return {};
}

}  // namespace bvsim
