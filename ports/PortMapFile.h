// One port map file, ports.conf: a `COM<n> = TARGET` line per port (n from 1 to 8), `#` comments
// (a whole line, or behind a target after a blank) and blank lines. A malformed line, a key that is
// not COM1 to COM8, a target that is none of the accepted forms and a second line for the same
// port each cost one warning naming the file and the line, and are skipped; nothing here is ever
// fatal. Edits change only the lines of the port they name, so comments and every other line
// survive them.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace zelnet_ports {

// COM1 to COM8 can be named by a map.
inline constexpr int kMapPorts = 8;

struct MapWarning {
  QString file;
  int line = 0;  // from 1
  QString message;
  // "FILE:LINE: MESSAGE"
  QString Text() const;
};

class PortMapFile {
 public:
  PortMapFile() = default;
  // Reads `path`. A missing file is an empty map; a file that exists but cannot be read is an
  // empty map with one warning (line 0) saying why.
  static PortMapFile Load(const QString& path);
  // The map of `contents`, as if read from `path`.
  static PortMapFile Parse(const QString& path, const QByteArray& contents);

  QString Path() const { return path_; }
  // The target that names COM<n>, empty when none does; `line` receives its line (from 1).
  QString Target(int n, int* line = nullptr) const;
  const std::vector<MapWarning>& Warnings() const { return warnings_; }

  // Names COM<n> with `target`: the port's first line is rewritten in place (a comment behind it
  // stays), its other lines go; a port without a line gets one at the end.
  void Set(int n, const QString& target);
  // Removes every line of COM<n>; returns whether there was one.
  bool Unset(int n);

  QByteArray Contents() const;
  // Writes the file in one piece (the old one stays whole until the new one is complete), keeping
  // its permissions and creating its folder when missing. False with the reason in `error`.
  bool Save(QString* error = nullptr) const;

 private:
  struct Line {
    QString text;     // as in the file, without its line end
    int port = 0;     // 1..8 when the line's key is COM<n>, else 0
    QString target;   // the line's target when it is a valid entry
    QString comment;  // " # ..." behind the target, kept on a rewrite
    bool effective = false;
  };
  void Reparse();
  static QString EntryText(int n, const QString& target, const QString& comment);

  QString path_;
  std::vector<Line> lines_;
  bool finalNewline_ = true;
  std::vector<MapWarning> warnings_;
};

}  // namespace zelnet_ports
