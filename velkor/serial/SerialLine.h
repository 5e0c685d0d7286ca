// One open serial line, as the port class uses it. The Qt implementation drives a real port; tests
// can wrap it to observe what the line is asked to do (RTS switching cannot be seen on a pty).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velkor {

// Line settings of an open port, kept by the port class between operations.
struct TDcb {
  uint32_t BaudRate = 9600;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;      // 0 = none
  uint8_t StopBits = 0;    // 0 = one stop bit
  uint8_t RtsControl = 0;  // 0 = RTS low, 1 = RTS high
};

class SerialLine {
 public:
  virtual ~SerialLine() = default;

  // Current line settings as the driver reports them.
  virtual bool GetState(TDcb& dcb) = 0;
  // Applies baud rate, data bits, parity and stop bits, without flow control; the RTS level is set
  // too but a line that cannot switch RTS (a pseudo-terminal) does not fail for it.
  virtual bool SetState(const TDcb& dcb) = 0;
  // Raises (true) or lowers (false) RTS; false when the line cannot switch it.
  virtual bool SetRts(bool high) = 0;
  // Writes the bytes, waiting at most timeoutMs for them to leave; returns the count written.
  virtual size_t Write(const uint8_t* data, size_t size, int timeoutMs) = 0;
  // Reads at most one byte, waiting at most about waitMs; returns 1 or 0. Never returns early
  // without a byte, so callers that loop on it do not spin.
  virtual int ReadByte(uint8_t& byte, int waitMs) = 0;
};

}  // namespace velkor
