// TCommDrv: Velkup's serial-port component. It owns one COM port, applies the line settings
// from its properties, writes with a time-out, reads a counted number of bytes with an
// inactivity time-out, drives RTS and DTR, reads the modem lines and polls the port on a timer
// to hand bytes that arrive unasked to OnReceiveData.
//
// It is a QObject owned by its parent (Qt's ownership destroys it with its owner) and runs on
// the thread that created it. The polling timer is a QTimer of the component: it ticks only
// while that thread runs its event loop.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CommTransport.h"

namespace velkup {

enum TBaudRate { brCustom, br9600, br14400, br19200, br28800, br38400, br57600, br115200 };
enum TPortNumber { pnCustom, pnCOM1, pnCOM2, pnCOM3, pnCOM4, pnCOM5, pnCOM6, pnCOM7, pnCOM8 };
enum TDataBits { db5BITS, db6BITS, db7BITS, db8BITS };
enum TStopBits { sb1BITS, sb1HALFBITS, sb2BITS };
enum TParity { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum TLineStatus { lsCTS, lsDSR, lsRING, lsCD };

// A set of modem input lines.
class TLineStatusSet {
 public:
  TLineStatusSet() = default;
  void Include(TLineStatus s) { bits_ |= static_cast<uint8_t>(1u << s); }
  bool Contains(TLineStatus s) const { return (bits_ >> s) & 1u; }
  bool Empty() const { return bits_ == 0; }
  bool operator==(const TLineStatusSet&) const = default;

 private:
  uint8_t bits_ = 0;
};

// brCustom gives 0; the others their bits per second.
uint32_t BaudRateOf(TBaudRate rate);

// The target behind a port name, as the port library resolves it (on Windows the name itself).
QString ResolvePortName(const QString& name);

// Sender, the received bytes and their count.
using TReceiveDataEvent =
    std::function<void(QObject* Sender, const void* DataPtr, uint32_t DataSize)>;
// Declared with the unit; no property uses it.
using TLineStatusEvent = std::function<void(QObject* Sender, TLineStatusSet LineStatus)>;

class TCommDrv : public QObject {
  Q_OBJECT
  Q_PROPERTY(TPortNumber Port READ Port WRITE SetPortB)
  Q_PROPERTY(bool RTS READ RTS WRITE ToggleRTS)
  Q_PROPERTY(bool DTR READ DTR WRITE ToggleDTR)
  Q_PROPERTY(QString PortName READ PortName WRITE SetPortName)
  Q_PROPERTY(TBaudRate BaudRate READ BaudRate WRITE SetBaudRate)
  Q_PROPERTY(quint32 Baud READ Baud WRITE SetBaudRateValue)
  Q_PROPERTY(TDataBits DataBits READ DataBits WRITE SetDataBits)
  Q_PROPERTY(TStopBits StopBits READ StopBits WRITE SetStopBits)
  Q_PROPERTY(TParity Parity READ Parity WRITE SetParity)
  Q_PROPERTY(quint32 InBufSize READ InBufSize WRITE SetInBufSize)
  Q_PROPERTY(quint32 OutBufSize READ OutBufSize WRITE SetOutBufSize)
  Q_PROPERTY(quint16 PollingDelay READ PollingDelay WRITE SetPollingDelay)

 public:
  explicit TCommDrv(QObject* AOwner);
  ~TCommDrv() override;

  // Connection.
  bool Connect();
  void Disconnect();
  bool Connected() const;
  // True once the open port has reported that its device went away (a hang-up, an adapter
  // unplugged, a network connection dropped); cleared by the next Connect.
  bool LineLost() const { return lineLost_; }
  // What the last Connect opened or tried (the port name resolved: a device path or a network
  // target), and why it failed when there is more to say than that the port is not there.
  QString Target() const { return target_; }
  QString OpenProblem() const { return openProblem_; }
  // The port's native descriptor, -1 while closed.
  qintptr Handle() const;
  // QSerialPort owns its descriptor and cannot take over one opened elsewhere, nor let go of
  // its own without closing it. So on this platform: the current handle changes nothing; -2
  // stops the polling timer and closes the port (the descriptor cannot stay open for another
  // owner); -1 disconnects; any other value disconnects and leaves the component closed.
  // Returns whether the component holds the given handle afterwards.
  bool SetHandle(qintptr handle);
  bool ApplyCOMSettings();

  // Properties.
  TPortNumber Port() const { return port_; }
  bool RTS() const { return rts_; }
  bool DTR() const { return dtr_; }
  QString PortName() const { return portName_; }
  TBaudRate BaudRate() const { return baudRate_; }
  uint32_t Baud() const { return baud_; }
  TDataBits DataBits() const { return dataBits_; }
  TStopBits StopBits() const { return stopBits_; }
  TParity Parity() const { return parity_; }
  uint32_t InBufSize() const { return inBufSize_; }
  uint32_t OutBufSize() const { return outBufSize_; }
  uint16_t PollingDelay() const { return pollingDelay_; }

  // Setters. Port name and queue sizes change only while closed; the line settings are
  // applied at once while connected. A data-bit, stop-bit or parity value outside its
  // enumeration changes nothing.
  void SetPortB(TPortNumber port);
  void SetPortName(const QString& name);
  void SetBaudRate(TBaudRate rate);
  void SetBaudRateValue(uint32_t bps);
  void SetDataBits(TDataBits bits);
  void SetStopBits(TStopBits bits);
  void SetParity(TParity parity);
  void SetInBufSize(uint32_t n);
  void SetOutBufSize(uint32_t n);
  void SetPollingDelay(uint16_t ms);
  void ToggleRTS(bool on);
  void ToggleDTR(bool on);

  // Queues and lines.
  uint32_t CountRX();
  // OutBufSize minus what waits in the output queue; 0 when the queue holds that much or more.
  uint16_t OutFreeSpace();
  bool FlushBuffers(bool input, bool output);
  TLineStatusSet GetLineStatus();
  bool IsPolling() const { return pauseCount_ <= 0; }
  void PausePolling() { ++pauseCount_; }
  void ContinuePolling() { --pauseCount_; }

  // Transfer. Both directions wait on the port with a deadline; neither spins.
  uint32_t SendDataEx(const void* data, uint32_t count, uint32_t timeout);
  uint32_t SendData(const void* data, uint32_t count);
  bool SendByte(uint8_t value);
  bool SendChar(char value);
  bool SendString(const std::string& text);
  bool SendZString(const char* text);
  // Reads until count bytes have arrived or none has arrived for InputTimeout ms; returns the
  // number of bytes placed in the buffer.
  uint32_t ReadData(void* buffer, uint32_t count);
  bool ReadByte(uint8_t& value);
  bool ReadChar(char& value);

  // Fields set directly.
  uint16_t OutputTimeout = 5000;
  uint32_t InputTimeout = 5000;
  TReceiveDataEvent OnReceiveData;

 private:
  void TimerWndProc();
  void ReapplyIfConnected();
  void SetLine(bool rts, bool on);
  // Notes a line whose device or connection went away.
  void NoteLost();

  std::unique_ptr<TCommTransport> line_;  // the open line; null while closed
  QString target_;
  QString openProblem_;
  QTimer* timer_;
  std::vector<uint8_t> receiveBuffer_;
  int32_t pauseCount_ = 0;
  bool lineLost_ = false;

  TPortNumber port_ = pnCOM1;
  bool rts_ = false;
  bool dtr_ = false;
  QString portName_ = QStringLiteral("COM1");
  TBaudRate baudRate_ = br57600;
  uint32_t baud_ = 57600;
  TDataBits dataBits_ = db8BITS;
  TStopBits stopBits_ = sb1BITS;
  TParity parity_ = ptNONE;
  uint32_t inBufSize_ = 2048;
  uint32_t outBufSize_ = 2048;
  uint16_t pollingDelay_ = 5000;
};

}  // namespace velkup
