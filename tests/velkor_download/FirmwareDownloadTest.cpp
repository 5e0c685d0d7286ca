// The download procedure (LoadAndProgram) against bvsim on a real pseudo-terminal: every block
// stored byte-exact, blank blocks skipped but counted, 256- and 512-byte blocks, a block refused
// three and four times, a silent block, a refused finish, a block size above 512, a file whose
// load fails, and files written by objcopy and srec_cat.
#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "FirmwareDownload.h"
#include "HexWriter.h"
#include "SimOnPort.h"
#include "ToolHex.h"
#include "bvsim.h"

using namespace velkor;
using zelnet::test::Bytes;
using namespace std::chrono_literals;

namespace {

// Remembers what the procedure did with the progress bar.
class RecordingProgress final : public TProgressSteps {
 public:
  void SetMax(int maximum) override {
    maxima.push_back(maximum);
    highest = 0;
  }
  void SetPosition(int position) override {
    position_ = position;
    highest = std::max(highest, position);
  }
  int Position() const override { return position_; }

  std::vector<int> maxima;
  int highest = 0;  // since the last SetMax

 private:
  int position_ = 0;
};

// The simulator, a port open on its pty, and the procedure over that port.
struct DownloadRig {
  explicit DownloadRig(bvsim::Config config = {}) : simPort(std::move(config)) {
    EXPECT_TRUE(link.OpenPort('1', 19200));
  }

  DownloadResult Run(const std::string& contents) {
    log.clear();
    sim.ClearReceived();
    return download.LoadAndProgram(contents, *image, state);
  }

  // Image offsets of the write-block requests received, in order.
  std::vector<std::uint32_t> BlockAddresses() const {
    std::vector<std::uint32_t> addresses;
    for (const bvsim::Frame& f : sim.ReceivedFrames()) {
      if (f.SubCommand() == DownloadWriteBlock && f.bytes.size() > 9)
        addresses.push_back(f.bytes[7] | f.bytes[8] << 8 | f.bytes[9] << 16);
    }
    return addresses;
  }
  std::vector<int> SubCommands() const {
    std::vector<int> subs;
    for (const bvsim::Frame& f : sim.ReceivedFrames()) subs.push_back(f.SubCommand());
    return subs;
  }
  // The simulator's firmware equals the loaded image over [0, size).
  ::testing::AssertionResult StoredExactly(std::size_t size) const {
    const std::vector<std::uint8_t> firmware = sim.Firmware();
    for (std::size_t i = 0; i < size; ++i) {
      if (firmware[i] != (*image)[i]) {
        return ::testing::AssertionFailure() << "first difference at offset " << i;
      }
    }
    return ::testing::AssertionSuccess();
  }

  zelnet::test::SimOnPort simPort;
  bvsim::Simulator& sim = simPort.sim;
  ZelnetLink link{LinkHost{}};
  RecordingProgress progress;
  std::vector<std::string> log;
  TFirmwareDownload download{link, progress,
                             [this](std::string_view line) { log.emplace_back(line); }};
  std::unique_ptr<FirmwareImageBytes> image = std::make_unique<FirmwareImageBytes>();
  HexLoadState state;
};

const std::vector<std::string> kProgrammingLines = {"Preparation data...", "** OK.",
                                                    "Programming data to BV..."};

// Pages 0, 1 and 3 hold data; page 2 is blank.
std::string ThreePagesAndAHole() {
  std::string hex;
  for (std::uint16_t address : {0x0000, 0x0100, 0x0300}) {
    for (unsigned line = 0; line < 16; ++line) {
      hex += zelnet::test::DataRecord(static_cast<std::uint16_t>(address + 16 * line), 16,
                                      static_cast<std::uint8_t>(address / 16 + line));
    }
  }
  return hex + zelnet::test::kEndOfFile;
}

// Data in pages 0, 1 and 2: two 512-byte blocks, the second half blank.
std::string ThreePages() {
  std::string hex;
  for (unsigned line = 0; line < 48; ++line)
    hex += zelnet::test::DataRecord(static_cast<std::uint16_t>(16 * line), 16,
                                    static_cast<std::uint8_t>(3 * line));
  return hex + zelnet::test::kEndOfFile;
}

bvsim::Fault BlockFault(bvsim::Fault::Kind kind, std::int64_t address, int count = 1) {
  bvsim::Fault fault;
  fault.kind = kind;
  fault.command = kCmdDownload;
  fault.subCommand = DownloadWriteBlock;
  fault.blockAddress = address;
  fault.count = count;
  fault.code = 0x01;  // a refusal: a valid answer that is not DownloadAccepted
  return fault;
}

}  // namespace

TEST(LoadAndProgram, StoresEveryBlockByteExactAndSkipsBlankBlocksWithoutLosingCount) {
  DownloadRig rig;
  EXPECT_EQ(rig.Run(ThreePagesAndAHole()), dlOk);
  EXPECT_EQ(rig.log, kProgrammingLines);
  EXPECT_EQ(rig.download.BlockSize(), 256u);
  EXPECT_EQ(rig.download.BlockCount(), 4u);
  EXPECT_EQ(rig.SubCommands(),
            (std::vector<int>{DownloadStart, DownloadQueryBlockSize, 2, 2, 2, DownloadFinish}));
  // The blank page is not sent; the next block carries its own address.
  EXPECT_EQ(rig.BlockAddresses(), (std::vector<std::uint32_t>{0x000, 0x100, 0x300}));
  EXPECT_TRUE(rig.StoredExactly(0x400));
  // The bar's maximum is the block count and every block steps it, the blank one included.
  ASSERT_FALSE(rig.progress.maxima.empty());
  EXPECT_EQ(rig.progress.maxima.back(), 4);
  EXPECT_EQ(rig.progress.highest, 4);

  // Each block and the finish wait their 100 ms after the answer before.
  const auto received = rig.sim.ReceivedFrames();
  const auto sent = rig.sim.SentFrames();
  ASSERT_GE(sent.size(), received.size());
  const std::size_t base = sent.size() - received.size();
  for (std::size_t i = 1; i < received.size(); ++i) {
    if (received[i].SubCommand() == DownloadStart) continue;
    EXPECT_GE(received[i].first - sent[base + i - 1].t, 95ms) << "request " << i;
  }
}

TEST(LoadAndProgram, FiveHundredTwelveByteBlocksCoverAnOddPageCount) {
  DownloadRig rig;
  rig.sim.SetBlockPower(9);
  EXPECT_EQ(rig.Run(ThreePages()), dlOk);
  EXPECT_EQ(rig.download.BlockSize(), 512u);
  // Three pages round up to two blocks: the third page is not dropped.
  EXPECT_EQ(rig.BlockAddresses(), (std::vector<std::uint32_t>{0x000, 0x200}));
  EXPECT_TRUE(rig.StoredExactly(0x400));
  for (const bvsim::Frame& f : rig.sim.ReceivedFrames()) {
    if (f.SubCommand() != DownloadWriteBlock) continue;
    EXPECT_EQ(f.bytes.size(), 524u);
    EXPECT_EQ(f.bytes[5], 0x02);
    EXPECT_EQ(f.bytes[6], 0x0C);
    EXPECT_TRUE(f.crcOk);
  }
}

TEST(LoadAndProgram, ABlockRefusedThreeTimesIsSentAFourthTimeAndAFourthRefusalEndsIt) {
  DownloadRig rig;
  rig.sim.InjectFault(BlockFault(bvsim::Fault::Refuse, 0x100, 3));
  EXPECT_EQ(rig.Run(ThreePages()), dlOk);
  EXPECT_EQ(rig.BlockAddresses(),
            (std::vector<std::uint32_t>{0x000, 0x100, 0x100, 0x100, 0x100, 0x200}));
  EXPECT_TRUE(rig.StoredExactly(0x300));
  // A refused attempt waits a further 100 ms before the next one's own 100 ms.
  const auto received = rig.sim.ReceivedFrames();
  const auto sent = rig.sim.SentFrames();
  const std::size_t base = sent.size() - received.size();
  EXPECT_GE(received[4].first - sent[base + 3].t, 195ms);

  rig.sim.ClearFaults();
  rig.sim.InjectFault(BlockFault(bvsim::Fault::Refuse, 0x100, 4));
  EXPECT_EQ(rig.Run(ThreePages()), dlExchangeError);
  EXPECT_EQ(rig.BlockAddresses(), (std::vector<std::uint32_t>{0x000, 0x100, 0x100, 0x100, 0x100}));
  EXPECT_EQ(rig.SubCommands().back(), DownloadWriteBlock) << "no finish after the failure";
}

TEST(LoadAndProgram, ASilentBlockOrARefusedFinishEndsWithAnExchangeError) {
  DownloadRig rig;
  rig.sim.InjectFault(BlockFault(bvsim::Fault::Silent, 0x100));
  EXPECT_EQ(rig.Run(ThreePages()), dlExchangeError);
  // No answer within 1500 ms: no second attempt.
  EXPECT_EQ(rig.BlockAddresses(), (std::vector<std::uint32_t>{0x000, 0x100}));

  // The same for a wrong check code and for the invalid-command answer.
  for (const auto kind : {bvsim::Fault::BadCrc, bvsim::Fault::Invalid}) {
    rig.sim.ClearFaults();
    rig.sim.InjectFault(BlockFault(kind, 0x000));
    EXPECT_EQ(rig.Run(ThreePages()), dlExchangeError);
    EXPECT_EQ(rig.BlockAddresses(), (std::vector<std::uint32_t>{0x000}));
  }

  rig.sim.ClearFaults();
  bvsim::Fault finish;
  finish.kind = bvsim::Fault::Refuse;
  finish.command = kCmdDownload;
  finish.subCommand = DownloadFinish;
  finish.code = 0x01;
  rig.sim.InjectFault(finish);
  EXPECT_EQ(rig.Run(ThreePages()), dlExchangeError);
  EXPECT_EQ(rig.BlockAddresses(), (std::vector<std::uint32_t>{0x000, 0x100, 0x200}));
  EXPECT_TRUE(rig.StoredExactly(0x300));
  EXPECT_EQ(rig.SubCommands().back(), DownloadFinish);
}

TEST(LoadAndProgram, ABlockSizeAboveFiveHundredTwelveEndsBeforeAnyBlock) {
  DownloadRig rig;
  rig.image->fill(0x5A);
  for (const std::uint8_t power : {10, 15, 31}) {
    rig.sim.SetBlockPower(power);
    EXPECT_EQ(rig.Run(ThreePages()), dlExchangeError) << int(power);
    EXPECT_EQ(rig.SubCommands(), (std::vector<int>{DownloadStart, DownloadQueryBlockSize}));
    EXPECT_TRUE(rig.log.empty()) << "nothing prepared";
    EXPECT_EQ((*rig.image)[0], 0x5A) << "the file is not even loaded";
  }
  // The power is taken modulo 32: 40 is 256-byte blocks.
  rig.sim.SetBlockPower(40);
  EXPECT_EQ(rig.Run(ThreePages()), dlOk);
  EXPECT_EQ(rig.download.BlockSize(), 256u);
}

TEST(LoadAndProgram, NoStartAnswerOrAFileThatDoesNotLoadSendsNoBlock) {
  DownloadRig rig;
  bvsim::Fault start;
  start.kind = bvsim::Fault::Silent;
  start.command = kCmdDownload;
  start.subCommand = DownloadStart;
  rig.sim.InjectFault(start);
  EXPECT_EQ(rig.Run(ThreePages()), dlExchangeError);
  EXPECT_EQ(rig.SubCommands(), (std::vector<int>{DownloadStart}));

  // Well framed with right checksums, but its upper address selects no bank of the image.
  const std::string outside = zelnet::test::Record(0x04, 0, {0x00, 0x02}) +
                              zelnet::test::DataRecord(0, 16) + zelnet::test::kEndOfFile;
  EXPECT_EQ(rig.Run(outside), dlHexError);
  EXPECT_EQ(rig.log, std::vector<std::string>{"Preparation data..."});
  EXPECT_NE(rig.download.HexErrorDetail().find("line 1"), std::string::npos)
      << rig.download.HexErrorDetail();
  EXPECT_TRUE(rig.BlockAddresses().empty());
  // No data record at all.
  EXPECT_EQ(rig.Run(zelnet::test::kEndOfFile), dlHexError);
  EXPECT_TRUE(rig.BlockAddresses().empty());
}

TEST(LoadAndProgram, FilesWrittenByObjcopyAndSrecCatArriveByteExact) {
  zelnet::test::ToolHex tools;
  {
    DownloadRig rig;
    const Bytes small = zelnet::test::RandomBytes(1000, 11);
    EXPECT_EQ(rig.Run(tools.Read(tools.Objcopy("small", small)).toStdString()), dlOk);
    EXPECT_EQ(rig.BlockAddresses(), (std::vector<std::uint32_t>{0x000, 0x100, 0x200, 0x300}));
    Bytes expected(kFirmwareImageSize, 0xFF);
    std::copy(small.begin(), small.end(), expected.begin());
    EXPECT_EQ(rig.sim.Firmware(), expected);
  }
  {
    // Pieces in both banks, one across the bank boundary, holes between: only the blocks that
    // hold data go out, the last one at the top of the image.
    DownloadRig rig;
    Bytes expected;
    const QString sparse =
        tools.SrecCat("sparse", {{0x0040, 0x80}, {0xFFC0, 0x80}, {0x1FF00, 0x100}}, expected, 5,
                      kFirmwareImageSize);
    EXPECT_EQ(rig.Run(tools.Read(sparse).toStdString()), dlOk);
    EXPECT_EQ(rig.download.BlockCount(), 512u);
    EXPECT_EQ(rig.BlockAddresses(),
              (std::vector<std::uint32_t>{0x00000, 0x0FF00, 0x10000, 0x1FF00}));
    EXPECT_EQ(rig.sim.Firmware(), expected);
  }
}
