#include "app/about_box.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "app/dialog_units.h"

namespace tavrin::app {
namespace {

TEST(AboutBox, ShowsTheIdentityAndTheFixedTextsAndEndsOnOkOrEscape) {
  AboutBox box;
  EXPECT_EQ(box.windowTitle(), "About Tavrin");
  EXPECT_EQ(box.VersionLabel()->text(), "Tavrin Version 1.1.0c");
  EXPECT_EQ(box.ProjectIdLabel()->text(), "Project ID - TVR-STB-001");
  // "Dec 5 2026": single blanks, no leading zero.
  const QRegularExpression buildDate(
      QStringLiteral("^Build Date - [A-Z][a-z]{2} [1-9][0-9]? \\d{4}$"));
  EXPECT_TRUE(buildDate.match(box.BuildDateLabel()->text()).hasMatch())
      << box.BuildDateLabel()->text().toStdString();
  EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("1038")), box.VersionLabel());

  for (const bool escape : {false, true}) {
    box.show();
    if (escape) {
      QTest::keyClick(&box, Qt::Key_Escape);
    } else {
      box.OkButton()->click();
    }
    EXPECT_FALSE(box.isVisible()) << escape;
    EXPECT_EQ(box.result(), QDialog::Accepted) << escape;
  }
}

// The icon comes from the window's resources: a build that left them out of the program
// would show an empty box and give the window no icon.
TEST(AboutBox, ShowsTheProgramsOwnIconWhichHasEverySizeTheDesktopUses) {
  const QIcon icon = ProgramIcon();
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
  }
  AboutBox box;
  const QPixmap shown = box.IconLabel()->pixmap();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.toImage(), icon.pixmap(shown.size()).toImage());
}

TEST(DialogUnitsTest, QuarterCharacterAcrossEighthDown) {
  // 6 px / 13 px base: each edge rounds to the nearest pixel.
  EXPECT_EQ(DialogUnitsToPixels(DialogBaseUnits{6, 13}, QRect(63, 95, 50, 14)),
            QRect(95, 154, 75, 23));
  EXPECT_EQ(DialogUnitsToPixels(DialogBaseUnits{7, 15}, QRect(1, 1, 1, 1)), QRect(2, 2, 2, 2));
}

}  // namespace
}  // namespace tavrin::app
