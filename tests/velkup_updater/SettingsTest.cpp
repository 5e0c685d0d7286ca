// Velkup's remembered choices alone: what is read back, the type checks of stored values and a
// configuration that cannot be written.
#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>

#include "Settings.h"
#include "VelkupTestSupport.h"

using namespace velkup;
using velkup::test::TempSettings;

namespace {

TEST(UpdaterSettings, WhatIsWrittenIsReadBackAndAMissingConfigurationIsCreated) {
  TempSettings settings;
  QStringList errors;
  const TUpdaterChoices none = TUpdaterSettings::Read(errors);
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_TRUE(QFile::exists(settings.FilePath()));
  EXPECT_FALSE(none.comPort || none.baudRate || none.bvType || none.fileAddress ||
               none.sendEncryption || none.sendBVControl || none.sendValidation);

  TUpdaterChoices c;
  c.comPort = 7;
  c.baudRate = 0;
  c.bvType = -1;
  c.fileAddress = QStringLiteral("/tmp/a, b; \"c\"=d.vkf");
  c.sendEncryption = true;
  c.sendBVControl = false;
  c.sendValidation = true;
  QString error;
  ASSERT_TRUE(TUpdaterSettings::Write(c, error)) << error.toStdString();
  EXPECT_EQ(TempSettings::Open().value("Send Encryption").toInt(), 1);  // stored as 1 or 0
  const TUpdaterChoices back = TUpdaterSettings::Read(errors);
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(back.comPort, 7);
  EXPECT_EQ(back.baudRate, 0);
  EXPECT_EQ(back.bvType, -1);
  EXPECT_EQ(back.fileAddress, c.fileAddress);
  EXPECT_EQ(back.sendEncryption, true);
  EXPECT_EQ(back.sendBVControl, false);
  EXPECT_EQ(back.sendValidation, true);
}

TEST(UpdaterSettings, AValueOfTheWrongTypeIsNamedAndTheOthersAreStillRead) {
  TempSettings settings;
  {
    QSettings s = TempSettings::Open();
    s.setValue("ComPort", " 3");                           // text around the number
    s.setValue("BaudRate", "1");                           // text holding only a number: an integer
    s.setValue("BVType", "4294967296");                    // past 32 bits
    s.setValue("FileAddress", QByteArray("\x01\x02", 2));  // binary data, not a string
    s.setValue("Send Encryption", QStringList{"1"});
    s.setValue("Send BVControl", -2147483648LL);
    s.setValue("Send Validation", "");
  }
  QStringList errors;
  const TUpdaterChoices c = TUpdaterSettings::Read(errors);
  EXPECT_EQ(
      errors,
      (QStringList{"Invalid data type for 'ComPort'", "Invalid data type for 'BVType'",
                   "Invalid data type for 'FileAddress'", "Invalid data type for 'Send Encryption'",
                   "Invalid data type for 'Send Validation'"}));
  EXPECT_FALSE(c.comPort);
  EXPECT_EQ(c.baudRate, 1);
  EXPECT_FALSE(c.bvType);
  EXPECT_FALSE(c.fileAddress);
  EXPECT_FALSE(c.sendEncryption);
  EXPECT_EQ(c.sendBVControl, true);  // any non-zero value checks the box
  EXPECT_FALSE(c.sendValidation);
}

TEST(UpdaterSettings, AConfigurationThatCannotBeWrittenSaysSoOnce) {
  TempSettings settings;
  // A file where the configuration's folder should be.
  QFile blocker(settings.dir.filePath("Velkup"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  TUpdaterChoices c;
  c.comPort = 1;
  QString error;
  EXPECT_FALSE(TUpdaterSettings::Write(c, error));
  EXPECT_EQ(error, "Failed to set data for 'ComPort'");
}

}  // namespace
