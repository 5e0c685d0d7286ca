// HEX files written by real tools (binutils objcopy, srecord's srec_cat) from random images load
// byte-exact: the image equals the source bytes and what objcopy makes of the same file as a
// binary, and the page count covers the whole image.
#include <gtest/gtest.h>

#include <QByteArray>
#include <vector>

#include "HexFile.h"
#include "HexTestSupport.h"
#include "ToolHex.h"

using namespace velkor;
using zelnet::test::Bytes;
using zelnet::test::RandomBytes;

namespace {

// Offset of the first difference between the image from offset 0 and expected (0xFF beyond
// expected), or -1.
long FirstDifference(const FirmwareImageBytes& image, const Bytes& expected) {
  for (std::size_t i = 0; i < image.size(); ++i) {
    const std::uint8_t want = i < expected.size() ? expected[i] : 0xFF;
    if (image[i] != want) return static_cast<long>(i);
  }
  return -1;
}

class HexTools : public ::testing::Test {
 protected:
  // Loads the HEX file with both passes and checks the image against objcopy's binary of the
  // same file (its holes filled with 0xFF, as ours) and against the expected bytes.
  void ExpectLoadsExactly(const QString& hexName, const Bytes& expected, unsigned pages) {
    SCOPED_TRACE(hexName.toStdString());
    const QByteArray contents = tools.Read(hexName);
    const auto loaded = velkor::test::Load(std::string_view(contents.constData(), contents.size()));
    ASSERT_TRUE(loaded.checked) << loaded.checkError;
    ASSERT_EQ(loaded.loaded, HexLoadResult::Ok) << loaded.loadError;

    tools.Run(ZELNET_OBJCOPY,
              {"-I", "ihex", "-O", "binary", "--gap-fill", "0xff", hexName, hexName + ".bin"});
    const QByteArray binary = tools.Read(hexName + ".bin");
    const Bytes objcopyImage(binary.begin(), binary.end());
    EXPECT_EQ(FirstDifference(*loaded.image, objcopyImage), -1);
    EXPECT_EQ(FirstDifference(*loaded.image, expected), -1);
    EXPECT_EQ(ImagePageCount(loaded.state), pages);
  }

  zelnet::test::ToolHex tools;
};

bool HasRecordOfType(const QByteArray& hex, const char* prefix) {
  return hex.contains(prefix);
}

}  // namespace

TEST_F(HexTools, ObjcopyImagesOfEverySizeLoadByteExact) {
  struct Size {
    std::size_t bytes;
    unsigned pages;
  };
  for (const Size size : {Size{1000, 4}, Size{32768, 128}, Size{70000, 274}, Size{131072, 512}}) {
    const Bytes image = RandomBytes(size.bytes, static_cast<unsigned>(size.bytes));
    const QString name = QString("objcopy%1").arg(size.bytes);
    tools.Objcopy(name, image);
    if (size.bytes > kFirmwareBankSize) {
      // binutils reaches the upper bank with segment 0x1000 and writes CR LF.
      const QByteArray hex = tools.Read(name + ".hex");
      ASSERT_TRUE(HasRecordOfType(hex, ":020000021000EC\r\n"));
    }
    ExpectLoadsExactly(name + ".hex", image, size.pages);
  }
}

TEST_F(HexTools, SrecCatImagesWithLinearAndSegmentAddressesLoadByteExact) {
  const Bytes image = RandomBytes(100000, 7);
  tools.Write("srec.img", image);
  // Default: 32-bit linear addressing (type 04), line feeds only.
  tools.Run(ZELNET_SREC_CAT, {"srec.img", "-binary", "-o", "linear.hex", "-intel", "-obs=16"});
  ASSERT_TRUE(HasRecordOfType(tools.Read("linear.hex"), ":020000040001F9\n"));
  ExpectLoadsExactly("linear.hex", image, 391);
  // 20-bit segment addressing (type 02), carriage return and line feed.
  tools.Run(ZELNET_SREC_CAT, {"srec.img", "-binary", "-o", "segment.hex", "-intel",
                              "-address-length=3", "-obs=16", "-crlf"});
  ASSERT_TRUE(HasRecordOfType(tools.Read("segment.hex"), ":020000021000EC\r\n"));
  ExpectLoadsExactly("segment.hex", image, 391);
}

TEST_F(HexTools, ImageWithHolesLoadsWithHolesLeftAtFF) {
  // Pieces at the start, in the middle, across the bank boundary and up to the image's end.
  Bytes expected;
  tools.SrecCat("holes", {{0x0000, 5000}, {0x9000, 3000}, {0xFF88, 0x100}, {0x1F000, 0x1000}},
                expected, 100, kFirmwareImageSize);
  // With linear addresses srec_cat lets one record run from 0xFFF8 past the bank boundary.
  ASSERT_TRUE(HasRecordOfType(tools.Read("holes.hex"), ":10FFF800"));
  ExpectLoadsExactly("holes.hex", expected, 512);

  // The same file re-written by binutils.
  tools.Run(ZELNET_OBJCOPY, {"-I", "ihex", "-O", "ihex", "holes.hex", "holes-objcopy.hex"});
  ExpectLoadsExactly("holes-objcopy.hex", expected, 512);

  // Segment addressing, CR LF.
  tools.Run(ZELNET_SREC_CAT, {"holes.hex", "-intel", "-o", "holes-segment.hex", "-intel",
                              "-address-length=3", "-obs=16", "-crlf"});
  ExpectLoadsExactly("holes-segment.hex", expected, 512);
}
