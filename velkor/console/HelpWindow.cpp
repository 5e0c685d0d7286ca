#include "HelpWindow.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

// The help page lives in a resource of this static library; register it before first use.
static void InitHelpResource() {
  Q_INIT_RESOURCE(help);
}

namespace velkor {

const char* const THelpWindow::kContentsUrl = "qrc:/help/velkor_help.html";

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  InitHelpResource();
  setWindowTitle(QStringLiteral("ZELNET Controller - Help"));
  Browser = new QTextBrowser(this);
  Browser->setObjectName(QStringLiteral("Browser"));
  Browser->setOpenExternalLinks(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Browser);
  Browser->setSource(QUrl(QString::fromLatin1(kContentsUrl)));
  resize(680, 600);
}

}  // namespace velkor
