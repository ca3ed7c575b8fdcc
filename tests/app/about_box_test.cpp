#include "app/about_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include "app/dialog_units.h"

namespace tavrin::app {
namespace {

TEST(AboutBox, ShowsTheIdentityAndTheFixedTextsAndEndsOnOkOrEscape) {
  for (const bool escape : {false, true}) {
    AboutBox box;
    EXPECT_EQ(box.windowTitle(), "About Tavrin");
    EXPECT_EQ(box.VersionLabel()->text(), "Tavrin Version 1.1.0c");
    EXPECT_EQ(box.ProjectIdLabel()->text(), "Project ID - TVR-STB-001");
    // "Dec 5 2026": single blanks, no leading zero.
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^Build Date - [A-Z][a-z]{2} [1-9][0-9]? \\d{4}$"))
            .match(box.BuildDateLabel()->text())
            .hasMatch())
        << box.BuildDateLabel()->text().toStdString();
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("1038")), box.VersionLabel());
    QStringList texts;
    for (const QLabel* label : box.findChildren<QLabel*>()) texts << label->text();
    for (const char* text :
         {"Supporting OS:", " Windows 95, 98, ME,  NT, 2000 and XP", "Both English and Chinese"}) {
      EXPECT_TRUE(texts.contains(text)) << text;
    }
    EXPECT_EQ(box.OkButton()->text(), "&Ok");

    box.show();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    if (escape) {
      QApplication::sendEvent(&box, &press);
    } else {
      box.OkButton()->click();
    }
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);
  }
}

struct UnitsRow {
  DialogBaseUnits base;
  QRect dialogUnits;
  QRect pixels;
};

class DialogUnitsTest : public ::testing::TestWithParam<UnitsRow> {};

TEST_P(DialogUnitsTest, QuarterCharacterAcrossEighthDown) {
  EXPECT_EQ(DialogUnitsToPixels(GetParam().base, GetParam().dialogUnits), GetParam().pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DialogUnitsTest,
    ::testing::Values(UnitsRow{{8, 16}, {4, 8, 40, 16}, {8, 16, 80, 32}},
                      // 6 px / 13 px base: each edge rounds to the nearest pixel.
                      UnitsRow{{6, 13}, {63, 95, 50, 14}, {95, 154, 75, 23}},
                      UnitsRow{{6, 13}, {0, 0, 177, 114}, {0, 0, 266, 185}},
                      UnitsRow{{7, 15}, {1, 1, 1, 1}, {2, 2, 2, 2}}));

}  // namespace
}  // namespace tavrin::app
