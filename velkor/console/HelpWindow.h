// The help window: Velkor's own help page (a Qt resource) in a browser of its own.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace velkor {

class THelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit THelpWindow(QWidget* parent = nullptr);

  // The contents page of the help.
  static const char* const kContentsUrl;

 private:
  QTextBrowser* Browser = nullptr;
};

}  // namespace velkor
