// Arbitrary bytes on the line, cut into requests by the simulator's reader and handled by its
// validator, with physical events mixed in. Nothing may crash or read out of bounds; every
// answer is a well-formed frame; the reader's verdicts agree with the check code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "device.h"
#include "frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  bvsim::Config config;
  config.firmwareSize = 4096;
  config.initPolls = 1;
  config.transitionPolls = data[0] & 1;
  config.eventPolls = (data[0] >> 1) & 1;
  config.holdPolls = (data[0] >> 2) & 1;
  bvsim::Device device(config);
  bvsim::RequestReader reader;

  // The first bytes (as many as the low four bits of byte 1 say) are events, the rest is
  // the line, fed in chunks whose sizes the events also vary.
  size_t events = size > 1 ? data[1] & 0x0F : 0;
  size_t at = 2;
  size_t chunk = 7;
  for (; events > 0 && at < size; --events, ++at) {
    const uint8_t e = data[at];
    switch (e >> 5) {
      case 0:
        device.InsertBill(e & 0x1F);
        break;
      case 1:
        device.SetJam((e & 1) != 0, (e & 2) ? bvsim::JamKind::Stacker : bvsim::JamKind::Acceptor);
        break;
      case 2:
        device.SetCassetteOut((e & 1) != 0);
        break;
      case 3:
        device.SetStackerFull((e & 1) != 0);
        break;
      case 4:
        device.SetFailure((e & 1) ? 0x50 + (e & 0x0F) : 0);
        break;
      case 5:
        device.PowerCycle(0x10 + (e & 3));
        break;
      case 6:
        device.RejectNextBill(0x60 + (e & 0x1F));
        break;
      default:
        chunk = 1 + (e & 0x1F);
        break;
    }
  }
  std::vector<bvsim::RequestReader::Result> frames;
  for (; at < size; at += chunk) {
    const size_t n = std::min(chunk, size - at);
    frames.clear();
    reader.Feed(data + at, n, std::chrono::steady_clock::now(), frames);
    for (const auto& f : frames) {
      if (f.crcOk != bvsim::CheckCodeOk(f.bytes)) std::abort();
      if (f.bytes.size() < 6 || f.bytes[0] != bvsim::kSync) std::abort();
      if (!f.crcOk) continue;
      std::vector<uint8_t> answer;
      if (!device.Handle(f.bytes, answer)) continue;
      const std::vector<uint8_t> frame = bvsim::MakeAnswer(f.bytes[1], answer);
      if (!bvsim::CheckCodeOk(frame) || bvsim::AnnouncedAnswerLength(frame) != frame.size())
        std::abort();
    }
  }
  if (device.Firmware().size() != config.firmwareSize) std::abort();
  return 0;
}
