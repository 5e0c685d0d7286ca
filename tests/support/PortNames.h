// The names COM<n> of the programs under test, for the life of the object: Set(n, path) points
// ZELNET_COM<n> at a device path (a pseudo-terminal of a simulator or of a PtyPeer), and every
// variable touched is put back as it was when the object goes. An empty path names a port that
// does not exist, so that no test ever opens a real serial port.
#pragma once

#include <QByteArray>
#include <string>
#include <vector>

#include "ScopedEnv.h"

namespace zelnet::test {

// A path where no port exists.
inline std::string AbsentPort(int n) {
  return "/nonexistent/zelnet-com" + std::to_string(n);
}

class PortNames {
 public:
  PortNames() = default;
  // COM1 .. COM<paths.size()> at once.
  explicit PortNames(const std::vector<std::string>& paths) { SetAll(paths); }
  PortNames(const PortNames&) = delete;
  PortNames& operator=(const PortNames&) = delete;

  void Set(int n, const std::string& path) {
    env_.Set(("ZELNET_COM" + QByteArray::number(n)).constData(),
             QByteArray::fromStdString(path.empty() ? AbsentPort(n) : path));
  }
  // COM1 to COM4: the paths given in order, the rest (and empty ones) absent.
  void SetAll(const std::vector<std::string>& paths) {
    for (int n = 1; n <= 4; ++n) {
      Set(n, n <= static_cast<int>(paths.size()) ? paths[static_cast<size_t>(n - 1)] : "");
    }
  }

 private:
  ScopedEnv env_;
};

}  // namespace zelnet::test
