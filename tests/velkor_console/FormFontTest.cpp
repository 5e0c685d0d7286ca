// The forms ask for "MS Sans Serif", which Linux does not have: the project's fontconfig alias
// (scripts/fontconfig, loaded by every test through FONTCONFIG_FILE) must make them render in
// Liberation Sans, whose widths are those the layouts were made for.
#include <gtest/gtest.h>

#include <QDialog>
#include <QFontInfo>
#include <QPushButton>
#include <QTreeWidget>

#include "ConsoleRig.h"

using namespace velkor::test;

TEST(FormFont, MsSansSerifRendersInLiberationSansInBothWindows) {
  RecordingDialogs dialogs;
  PortNames ports{std::vector<std::string>{}};
  velkor::TMainForm form({&dialogs, {}});
  form.show();
  const QString liberation = QStringLiteral("Liberation Sans");
  QWidget* statistics = Control<QDialog>(form, "TStatisticForm");
  for (QWidget* w : {static_cast<QWidget*>(&form), Control<QWidget>(form, "BtnResetHard"),
                     Control<QWidget>(form, "MemoMessage"), statistics,
                     Control<QWidget>(*statistics, "TreeView1")}) {
    EXPECT_EQ(w->font().family(), "MS Sans Serif") << w->objectName().toStdString();
    EXPECT_EQ(QFontInfo(w->font()).family(), liberation) << w->objectName().toStdString();
  }
  EXPECT_TRUE(QFontInfo(Control<QWidget>(form, "MemoMessage")->font()).bold());
  // The statistics window keeps its 14-pixel height in the substitute.
  EXPECT_EQ(QFontInfo(statistics->font()).pixelSize(), 14);
}
