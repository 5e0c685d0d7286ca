// HEX files made by the real tools (binutils objcopy, srecord's srec_cat) from random pieces of
// an image, in a temporary folder, and the image they describe. A test that includes this names
// the tools: ZELNET_OBJCOPY and ZELNET_SREC_CAT.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zelnet::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// A piece of the image: random bytes at an image offset.
struct Piece {
  std::size_t offset;
  std::size_t size;
};

class ToolHex {
 public:
  ToolHex() { EXPECT_TRUE(dir_.isValid()); }

  QString Path(const QString& name) const { return dir_.filePath(name); }

  void Write(const QString& name, const Bytes& bytes) const {
    QFile file(Path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  }
  void WriteText(const QString& name, const std::string& text) const {
    Write(name, Bytes(text.begin(), text.end()));
  }

  QByteArray Read(const QString& name) const {
    QFile file(Path(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
  }

  // Runs a tool in the folder; fails the test on a non-zero exit.
  void Run(const QString& program, const QStringList& arguments) const {
    QProcess process;
    process.setWorkingDirectory(dir_.path());
    process.start(program, arguments);
    ASSERT_TRUE(process.waitForFinished(30000)) << program.toStdString() << " did not finish";
    ASSERT_EQ(process.exitStatus(), QProcess::NormalExit);
    ASSERT_EQ(process.exitCode(), 0)
        << program.toStdString() << ": " << process.readAllStandardError().toStdString();
  }

  // objcopy's HEX file of `bytes` placed at image offset 0; returns its name.
  QString Objcopy(const QString& name, const Bytes& bytes) const {
    Write(name + ".img", bytes);
    Run(ZELNET_OBJCOPY, {"-I", "binary", "-O", "ihex", name + ".img", name + ".hex"});
    return name + ".hex";
  }

  // srec_cat's HEX file (linear addresses, 16-byte records) of random pieces; fills `image`
  // (imageSize bytes, 0xFF elsewhere) with what it describes and returns its name.
  QString SrecCat(const QString& name, const std::vector<Piece>& pieces, Bytes& image,
                  unsigned seed, std::size_t imageSize) const {
    image.assign(imageSize, 0xFF);
    QStringList arguments;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
      const Bytes piece = RandomBytes(pieces[i].size, seed + static_cast<unsigned>(i));
      std::copy(piece.begin(), piece.end(), image.begin() + static_cast<long>(pieces[i].offset));
      const QString part = QString("%1-%2.img").arg(name).arg(i);
      Write(part, piece);
      arguments << part << "-binary"
                << "-offset" << QString::number(pieces[i].offset);
    }
    Run(ZELNET_SREC_CAT, arguments + QStringList{"-o", name + ".hex", "-intel", "-obs=16"});
    return name + ".hex";
  }

 private:
  QTemporaryDir dir_;
};

// CRC-32 (IEEE 802.3, reflected, initial and final value 0xFFFFFFFF) of the bytes.
inline std::uint32_t Crc32(const Bytes& bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace zelnet::test
