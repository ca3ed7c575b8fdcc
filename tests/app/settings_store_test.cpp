#include "app/settings_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace tavrin::app {
namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  QString Path() const { return dir_.filePath(QStringLiteral("ZVQ/Tavrin.ini")); }

  // The store file exactly as another program (or an older run) left it.
  void WriteFile(const QByteArray& text) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(Path()).absolutePath()));
    QFile file(Path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
  }
  QByteArray ReadFile() const {
    QFile file(Path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
};

struct RtsRow {
  const char* name;
  std::optional<QByteArray> data;  // the text after "RTSControl="; none: no value yet
  std::uint32_t rts;               // RTS control after LoadSettings
  QByteArray rewritten;            // the value's text afterwards
};

class RtsControlRoundTrip : public SettingsStoreTest,
                            public ::testing::WithParamInterface<RtsRow> {};

// The value lives under the product's key path; only the exact text "0" turns RTS off, a
// value that cannot be read is written as "0", and the first start writes it too.
TEST_P(RtsControlRoundTrip, OnlyTheExactTextZeroTurnsRtsOff) {
  const RtsRow& row = GetParam();
  if (row.data) {
    WriteFile("[Software]\nZVQ\\Tavrin\\TVR-STB-001\\Version1.1.0c\\RTSControl=" + *row.data +
              "\n");
  }
  serial::PortSettings settings;
  settings.rtsControl = 0;
  SettingsStore(Path()).LoadSettings(settings);
  EXPECT_EQ(settings.rtsControl, row.rts);
  EXPECT_TRUE(ReadFile().contains(
      "ZVQ\\Tavrin\\TVR-STB-001\\Version1.1.0c\\RTSControl=" + row.rewritten + "\n"))
      << ReadFile().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Values, RtsControlRoundTrip,
    ::testing::Values(RtsRow{"NoneYet", std::nullopt, 0, "0"}, RtsRow{"Zero", "0", 0, "0"},
                      RtsRow{"One", "1", 1, "1"}, RtsRow{"Yes", "yes", 1, "yes"},
                      RtsRow{"DoubleZero", "00", 1, "00"}, RtsRow{"Empty", "", 1, ""},
                      RtsRow{"TenBytes", "0123456789", 1, "0123456789"},
                      RtsRow{"ElevenBytes", "01234567890", 0, "0"}),
    [](const ::testing::TestParamInfo<RtsRow>& row) { return std::string(row.param.name); });

TEST_F(SettingsStoreTest, AStoreThatCannotBeOpenedChangesNothing) {
  QFile blocker(dir_.filePath(QStringLiteral("ZVQ")));  // a file where the folder goes
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  SettingsStore store(Path());
  serial::PortSettings settings;
  settings.rtsControl = 5;
  store.LoadSettings(settings);
  EXPECT_EQ(settings.rtsControl, 5u);
  EXPECT_FALSE(store.StoreRtsControl(true));
  EXPECT_FALSE(store.WriteParserPath(QStringLiteral("/usr/bin/parser")));
  EXPECT_EQ(store.ReadParserPath(), std::nullopt);
}

TEST_F(SettingsStoreTest, ParserPathLivesUnderItsOwnKeyAndIsCut) {
  SettingsStore store(Path());
  EXPECT_EQ(store.ReadParserPath(), std::nullopt);
  ASSERT_TRUE(store.WriteParserPath(QStringLiteral("/opt/parser, v2/run")));
  EXPECT_EQ(store.ReadParserPath(), QStringLiteral("/opt/parser, v2/run"));
  EXPECT_TRUE(ReadFile().contains("ZVQ\\Tavrin\\TVR-STB-001\\Version1.1.0c\\ADBtoSDB\\FileName="));
  ASSERT_TRUE(store.WriteParserPath(QString(300, QLatin1Char('p'))));
  EXPECT_EQ(store.ReadParserPath()->size(), kParserPathMaxLength);
}

}  // namespace
}  // namespace tavrin::app
