// The ADB to SDB dialog with the parser path stored in memory; the parser it starts is a
// shell script that writes its command line into a FIFO the test reads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/adb_to_sdb_dialog.h"
#include "qt_test_support.h"
#include "scripts/parser_launcher.h"
#include "support/temp_files.h"

namespace tavrin::app {
namespace {

using testing::FakePrompts;

class AdbToSdb : public ::testing::Test {
 protected:
  std::unique_ptr<AdbToSdbDialog> MakeDialog() {
    auto dialog =
        std::make_unique<AdbToSdbDialog>([this]() { return storeOpens_ ? stored_ : std::nullopt; },
                                         [this](const QString& path) {
                                           if (storeOpens_) stored_ = path;
                                           return storeOpens_;
                                         },
                                         prompts_, nullptr);
    QObject::connect(dialog.get(), &AdbToSdbDialog::ShutdownRequested,
                     [this] { ++shutdownRequests_; });
    QObject::connect(dialog.get(), &QDialog::finished, [this] { finished_ = true; });
    dialog->SetStartPause(std::chrono::milliseconds{0});
    return dialog;
  }

  FakePrompts prompts_;
  std::optional<QString> stored_ = QString();
  bool storeOpens_ = true;
  int shutdownRequests_ = 0;
  bool finished_ = false;
};

TEST_F(AdbToSdb, OnlyBrowsingToBothFilesEnablesConvertAndAParserThatIsNoProgramIsAProblem) {
  stored_ = QStringLiteral("/opt/parser");
  auto dialog = MakeDialog();
  ASSERT_TRUE(dialog->Open());
  EXPECT_EQ(dialog->ParserEdit()->text(), "/opt/parser");
  EXPECT_FALSE(dialog->ConvertButton()->isEnabled());
  EXPECT_EQ(dialog->focusWidget(), dialog->CancelButton());

  dialog->DownloadedEdit()->setText(QStringLiteral("/data/typed.dbf"));
  EXPECT_FALSE(dialog->ConvertButton()->isEnabled());
  prompts_.fileAnswers = {QStringLiteral("/nonexistent/parser"), QStringLiteral("/data/a.dbf"),
                          QStringLiteral("/data/a.bin")};
  dialog->BrowseParser();
  EXPECT_EQ(stored_, "/nonexistent/parser");
  dialog->BrowseDownloaded();
  EXPECT_TRUE(dialog->ConvertButton()->isEnabled());
  EXPECT_EQ(prompts_.dialogs[1].filters, QStringList{"Downloaded BIN File (*.DBF) (*.dbf)"});
  EXPECT_FALSE(prompts_.dialogs[1].mustExist);

  dialog->Convert();
  EXPECT_EQ(prompts_.Texts(), QStringList{"ADB to SDB convertion problem"});
  EXPECT_EQ(prompts_.messages[0].icon, PromptIcon::kStop);
  EXPECT_FALSE(finished_);
  EXPECT_TRUE(dialog->ConvertButton()->isEnabled());
}

// Wherever a path with a blank is chosen, the message names it and nothing else changes.
TEST_F(AdbToSdb, AChosenPathWithABlankIsRefused) {
  const std::pair<void (AdbToSdbDialog::*)(), const char*> cases[] = {
      {&AdbToSdbDialog::BrowseParser, "/my tools/parser"},
      {&AdbToSdbDialog::BrowseDownloaded, "/my data/a.dbf"},
      {&AdbToSdbDialog::Convert, "/my data/a.bin"},  // the output file
  };
  for (const auto& [command, path] : cases) {
    SCOPED_TRACE(path);
    stored_ = QStringLiteral("/nonexistent/parser");
    prompts_ = FakePrompts{};
    auto dialog = MakeDialog();
    ASSERT_TRUE(dialog->Open());
    prompts_.fileAnswers = {QStringLiteral("/data/a.dbf"), QString::fromLatin1(path)};
    dialog->BrowseDownloaded();

    ((*dialog).*command)();
    EXPECT_EQ(prompts_.Texts(),
              QStringList{WithPath(scripts::kBlankInPath.data(), QString::fromLatin1(path))});
    EXPECT_EQ(prompts_.messages[0].icon, PromptIcon::kExclamation);
    EXPECT_EQ(prompts_.messages[0].caption, "Tavrin 1.1");
    EXPECT_EQ(dialog->ParserEdit()->text(), "/nonexistent/parser");
    EXPECT_EQ(dialog->DownloadedEdit()->text(), "/data/a.dbf");
    EXPECT_EQ(stored_, "/nonexistent/parser");
    EXPECT_TRUE(dialog->ConvertButton()->isEnabled());
    EXPECT_FALSE(finished_);
  }
}

TEST_F(AdbToSdb, ConvertStartsTheParserWithTheThreePathsAndCloses) {
  tavrin::test::TempDir dir;
  const std::string base = dir.Path().string();
  const std::string fifo = base + "/args";
  const std::string parser = base + "/parser.sh";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(parser) << "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$1\" \"$2\" > " << fifo << "\n";
  ASSERT_EQ(::chmod(parser.c_str(), 0700), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);

  auto dialog = MakeDialog();
  ASSERT_TRUE(dialog->Open());
  const QString output = QString::fromStdString(base + "/out.bin");
  prompts_.fileAnswers = {QString::fromStdString(parser), QString::fromStdString(base + "/in.dbf"),
                          output};
  dialog->BrowseParser();
  dialog->BrowseDownloaded();
  dialog->Convert();
  ASSERT_TRUE(testing::PumpUntil([this] { return finished_; }));
  EXPECT_EQ(prompts_.Texts(), QStringList{output + " successfully generated"});
  EXPECT_EQ(prompts_.messages[0].icon, PromptIcon::kInformation);
  ASSERT_EQ(prompts_.dialogs.size(), 3u);
  EXPECT_EQ(prompts_.dialogs[0].filters[0], "Parser Application (*.EXE) (*.exe)");
  EXPECT_EQ(prompts_.dialogs[2].title, "Save");
  EXPECT_EQ(prompts_.dialogs[2].filters, QStringList{"Static Database File (*.BIN) (*.bin)"});
  EXPECT_EQ(prompts_.dialogs[2].defaultSuffix, "bin");
  EXPECT_EQ(tavrin::test::ReadUntilClosed(reader),
            parser + "\n" + base + "/in.dbf\n" + base + "/out.bin\n");
  ::close(reader);
}

TEST_F(AdbToSdb, ASettingsStoreThatCannotBeOpenedShutsTheProgramDown) {
  stored_.reset();  // a value that cannot be read is written back empty
  auto reads = MakeDialog();
  EXPECT_TRUE(reads->Open());
  EXPECT_EQ(stored_, "");
  EXPECT_TRUE(prompts_.messages.empty());

  storeOpens_ = false;
  auto fails = MakeDialog();
  EXPECT_FALSE(fails->Open());
  prompts_.fileAnswers = {QStringLiteral("/opt/parser")};
  reads->BrowseParser();
  EXPECT_EQ(reads->ParserEdit()->text(), "");
  EXPECT_EQ(prompts_.Texts(),
            (QStringList{"Registry handling problem", "Registry handling problem"}));
  EXPECT_EQ(prompts_.messages[1].icon, PromptIcon::kStop);
  EXPECT_EQ(shutdownRequests_, 2);
}

}  // namespace
}  // namespace tavrin::app
