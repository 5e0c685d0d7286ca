// The forms ask for "MS Sans Serif", which Linux does not have: the project's fontconfig alias
// (scripts/fontconfig, loaded by every test through FONTCONFIG_FILE) must make them render in
// Liberation Sans, whose widths are those the layouts were made for.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QPushButton>
#include <QTreeWidget>

#include "ConsoleRig.h"
#include "Statformunit.h"
#include "ui_Mainunit.h"

using namespace velkor::test;

TEST(FormFont, MsSansSerifRendersInLiberationSansInBothWindows) {
  RecordingDialogs dialogs;
  SetPorts({});
  velkor::TMainForm form({&dialogs, {}});
  form.show();
  const QString liberation = QStringLiteral("Liberation Sans");
  for (QWidget* w :
       {static_cast<QWidget*>(&form), static_cast<QWidget*>(form.ui->BtnResetHard),
        static_cast<QWidget*>(form.ui->MemoMessage), static_cast<QWidget*>(form.StatisticForm),
        static_cast<QWidget*>(form.StatisticForm->TreeView1())}) {
    EXPECT_EQ(w->font().family(), "MS Sans Serif") << w->objectName().toStdString();
    EXPECT_EQ(QFontInfo(w->font()).family(), liberation) << w->objectName().toStdString();
  }
  EXPECT_TRUE(QFontInfo(form.ui->MemoMessage->font()).bold());
  // The statistics window keeps its 14-pixel height in the substitute.
  EXPECT_EQ(QFontInfo(form.StatisticForm->font()).pixelSize(), 14);
}
