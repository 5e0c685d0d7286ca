// The client library both programs use, QSerialPort, against the simulator: opened, used,
// closed and reopened several times (as a device search does), with the RTS switch that a
// pty refuses.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QByteArray>
#include <QElapsedTimer>
#include <QSerialPort>
#include <filesystem>

#include "bvsim.h"

namespace {

QByteArray Exchange(QSerialPort& port, const std::vector<uint8_t>& request) {
  port.write(reinterpret_cast<const char*>(request.data()), qint64(request.size()));
  port.waitForBytesWritten(1000);
  QByteArray answer;
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < 3000) {
    if (answer.size() >= 3 && answer.size() >= uchar(answer[2]) && uchar(answer[2]) >= 6) break;
    if (port.waitForReadyRead(50)) answer += port.readAll();
  }
  return answer;
}

}  // namespace

TEST(BvsimWithQSerialPort, SurvivesRepeatedOpensAndAnswersEachTime) {
  bvsim::Simulator sim;
  ASSERT_TRUE(sim.Start()) << sim.LastError();
  const auto poll = bvsim::MakeRequest(3, bvsim::kPoll);
  const auto answer = bvsim::MakeAnswer(3, {0x10});
  // Every other round goes through a symbolic link, as the demo attaches Velkor.
  const std::string link =
      (std::filesystem::temp_directory_path() / ("bvsim-qt-" + std::to_string(::getpid())))
          .string();
  ::unlink(link.c_str());
  ASSERT_EQ(::symlink(sim.SlavePath().c_str(), link.c_str()), 0);
  for (int round = 0; round < 4; ++round) {
    QSerialPort port(QString::fromStdString(round % 2 ? link : sim.SlavePath()));
    port.setBaudRate(9600);
    ASSERT_TRUE(port.open(QIODevice::ReadWrite)) << port.errorString().toStdString();
    port.setRequestToSend(true);  // refused by a pty; must do no harm
    port.setRequestToSend(false);
    const QByteArray got = Exchange(port, poll);
    EXPECT_EQ(got, QByteArray(reinterpret_cast<const char*>(answer.data()), 6)) << round;
    port.close();
  }
  ::unlink(link.c_str());
  EXPECT_TRUE(sim.Running());
  EXPECT_EQ(sim.ReceivedFrames().size(), 4u);
}
