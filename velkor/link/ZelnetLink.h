// The command transaction of Velkor: one request, its answer, the failure lines and byte traces
// in the message log, and a small transaction result. Owned by the main window, which supplies the
// log, the "Show Messages" switch and its modal error box through LinkHost; everything else (the
// port object with its open port and its timer, LastStatus, the delay timer) lives here, behind
// the operations below, so it runs without a window.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <span>

#include "Workcom.h"

namespace velkor {

// Transaction results. Callers treat every value but txOk as a failure.
enum TxResult : int {
  txOk = 0,
  txTimeOut = kAnswerTimeOut,
  txCrcError = kAnswerCrcError,
  txBadStatistics = kAnswerBadStatistics,
  txInvalidCommand = kAnswerInvalidCommand,
  txBusy = kAnswerBusy,  // refused: another exchange is waiting for its answer
  txNoPort = 255,
};

// Texts the transaction writes.
inline const QString kSeparator = QStringLiteral("==================================");
inline const QString kTextTimeOut = QStringLiteral("Time-out!");
inline const QString kTextCrcError = QStringLiteral("Error CRC!");
inline const QString kTextBadStatistics = QStringLiteral("Statistic data is not correct!");
inline const QString kTextInvalidCommand = QStringLiteral("Invalid command!");
inline const QString kTextBusy = QStringLiteral("The line is busy - command refused!");
inline const QString kTextSearchBusy = QStringLiteral("The line is busy - search refused!");
inline const QString kTextNoPort = QStringLiteral("Execute search and reset of the BV!");
inline const QString kTextNoPortAck = QStringLiteral("Execute search and reset of the BV");

// What the transaction needs from its window.
struct LinkHost {
  std::function<void(const QString&)> AddMessage;  // one line into the message log
  std::function<bool()> ShowMessages;              // whether byte traces are wanted
  std::function<void(const QString&)> ErrorBox;    // modal error box with one Yes button
  // A line for the session record only, never the window (why a port did not open); may be empty.
  std::function<void(const QString&)> Note;
};

class ZelnetLink : public QObject {
  Q_OBJECT

 public:
  explicit ZelnetLink(LinkHost host, QObject* parent = nullptr);
  ~ZelnetLink() override;

  // How device paths are opened (a test may wrap the real port).
  void SetOpener(TComPort::LineOpener opener) { SerialPort.Opener = std::move(opener); }
  // Where each open of a COM name is recorded: one line with the target and its source (and why
  // a device is not there). A failure the user can fix (permission, a port another program
  // holds) is the open's problem, which the search gives the host's Note with its fix.
  void SetPortRecord(std::function<void(const QString&)> record);
  // Opens COM + digit at `baud` without probing it, in place of the open port; whether it opened.
  bool OpenPort(char digit, uint32_t baud) { return SerialPort.OpenPort(digit, baud); }
  // Whether a port is open: a search found one and no Bus Reset has closed it since.
  bool IsOpen() const { return SerialPort.IsOpen(); }
  // Releases the open port, if any.
  void ClosePort() { SerialPort.ClosePort(); }

  // The last status code recorded by the poll cycle; 0 after every failed transaction.
  uint8_t LastStatus() const { return lastStatus_; }
  void RecordStatus(uint8_t status) { lastStatus_ = status; }

  // Runs one command: builds and writes the request from `buffer`, reads the answer into the same
  // buffer within ticks x 10 ms, logs failures and traces. Returns a TxResult. A command started
  // while another exchange waits for its answer is refused without touching the line (txBusy).
  int SendCommand(uint8_t code, std::span<uint8_t> buffer, int ticks);

  // Writes an ACK frame; no answer is read.
  void SendAck();

  // An exchange outside the command transaction, for the frames the download sends itself:
  // writes the frame already built in `buffer` and reads the answer over it. Neither traced nor
  // logged, and LastStatus is left alone. Returns ReadAnswer's result (kAnswerTimeOut without a
  // port, kAnswerBusy while another exchange waits).
  int Exchange(std::span<uint8_t> buffer, int ticks, uint8_t code);

  // The device search over COM1 to COM4: each port that opens at baud() is probed, with an RTS
  // pulse, the validator's restart wait and a Poll (BusReset, which first closes the open port),
  // or with the Reset command (Reset). position(n) is told the candidate before it is tried. The
  // first port that answers stays open; returns its number, or 0 with no port open.
  enum class Probe { BusReset, Reset };
  int Search(Probe probe, const std::function<uint32_t()>& baud,
             const std::function<void(int)>& position);
  // The progress bar's maximum during a search: the bus reset only fills half of it.
  static int SearchSteps(Probe probe) { return probe == Probe::BusReset ? 8 : 4; }

  // Returns after about `ms` milliseconds, processing window events meanwhile without spinning.
  void Delay(int ms);

  // Whether an exchange is waiting for its answer (a second one would be refused).
  bool ExchangeBusy() const { return SerialPort.Reading(); }
  // The line that refuses a click which would start an exchange now (a search when `search`),
  // or none: while an exchange waits, and for a search also while a search runs.
  QString Refusal(bool search) const {
    if (!ExchangeBusy() && !(search && searching_)) return {};
    return search ? kTextSearchBusy : kTextBusy;
  }
  // Ends the waiting answer read as its time-out would, at its next empty read.
  void TimerComPortTimer() { SerialPort.TimerComPortTimer(); }

 private:
  void Log(const QString& line);
  bool Tracing() const;

  TComPort SerialPort;
  // One-shot timer that carries Delay.
  QTimer TimerDelay;
  uint8_t lastStatus_ = 0;
  LinkHost host_;
  bool searching_ = false;
};

}  // namespace velkor
