// The COM port test dialog on a PortCore connected to an in-memory serial device: what Send
// writes, and what the Receiver shows of frames the reader thread takes from the device.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <condition_variable>
#include <mutex>
#include <string>

#include "app/com_test_dialog.h"
#include "app/fake_prompts.h"
#include "qt_test_support.h"
#include "serial/serial_fakes.h"
#include "support/recorders.h"

namespace tavrin::app {
namespace {

using testing::FakePrompts;

// The output window's feed, which can be waited on.
class WaitableOutput final : public terminal::OutputSink {
 public:
  void Show(std::span<const std::uint8_t> bytes, terminal::ColourMark) override {
    std::lock_guard lock(mutex_);
    text_.append(bytes.begin(), bytes.end());
    changed_.notify_all();
  }
  bool WaitFor(const std::string& part) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, serial::test::kTestWait,
                             [&] { return text_.find(part) != std::string::npos; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;
};

class ComTestDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::CoreConfig config;
    config.tempDir = dir_.path().toStdString();
    config.deviceFactory = [line = line_](std::string_view) {
      return std::make_unique<serial::test::FakeSerialDevice>(line);
    };
    core_ = std::make_unique<core::PortCore>(core::CoreHost{output_, view_, errors_, relay_},
                                             std::move(config));
    ASSERT_EQ(core_->Connect(serial::PortSettings{}), serial::OpenOutcome::kConnected);
    dialog_ = std::make_unique<ComTestDialog>(*core_, relay_, prompts_, nullptr);
    QPlainTextEdit* receiver = dialog_->Receiver();
    QObject::connect(receiver, &QPlainTextEdit::textChanged, receiver, [this, receiver] {
      if (!receiver->toPlainText().isEmpty()) shown_ << receiver->toPlainText();
    });
  }
  bool WaitForShown(qsizetype count) {
    return testing::WaitUntil(dialog_->Receiver(), &QPlainTextEdit::textChanged,
                              [&] { return shown_.size() >= count; });
  }

  QTemporaryDir dir_;
  std::shared_ptr<serial::test::FakeLine> line_ = std::make_shared<serial::test::FakeLine>();
  WaitableOutput output_;
  transfer::TransferView view_;
  tavrin::test::RecordingErrorSink errors_;
  ComTestRelay relay_;
  FakePrompts prompts_;
  QStringList shown_;  // every text the Receiver showed
  std::unique_ptr<core::PortCore> core_;
  std::unique_ptr<ComTestDialog> dialog_;
};

TEST_F(ComTestDialogTest, SendWritesOneTestFrameOfAtMost3000Characters) {
  struct Case {
    QString text;
    std::string frame;  // empty: refused
  };
  const Case cases[] = {
      {"abc", std::string("\x02\x00\x03"
                          "abc\x03",
                          7)},
      {"", std::string("\x02\x00\x00\x03", 4)},
      {"a\nb", std::string("\x02\x00\x04"
                           "a\r\nb\x03",
                           8)},
      {QString(3000, 'x'), std::string("\x02\x0B\xB8", 3) + std::string(3000, 'x') + "\x03"},
      {QString(3001, 'x'), ""},
  };
  std::string written;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.size());
    prompts_.messages.clear();
    dialog_->Transmitter()->setPlainText(c.text);
    dialog_->SendButton()->click();
    written += c.frame;
    // The frame goes out through the writer thread.
    EXPECT_TRUE(line_->WaitForWritten(written.size()));
    EXPECT_EQ(line_->Written(), written);
    EXPECT_EQ(dialog_->Transmitter()->toPlainText(), c.text);
    if (c.frame.empty()) {
      ASSERT_EQ(prompts_.messages.size(), 1u);
      EXPECT_EQ(prompts_.messages[0].caption, "COM Port Test");
      EXPECT_EQ(
          prompts_.messages[0].text,
          "Cann't Transmit!!!\nData exceeds the buffer size\nDelete some data and send again");
      EXPECT_EQ(prompts_.messages[0].icon, PromptIcon::kExclamation);
    } else {
      EXPECT_TRUE(prompts_.messages.empty());
    }
  }
}

TEST_F(ComTestDialogTest, AnEchoSplitOverThreeReadsIsShownOnceWhole) {
  line_->Receive(std::string("noise\x02\x00", 7));
  line_->Receive("\x05hel");
  line_->Receive("lo\x03");
  ASSERT_TRUE(WaitForShown(1));
  dialog_->ClearReceiverButton()->click();
  EXPECT_EQ(dialog_->Receiver()->toPlainText(), "");
  line_->Receive(
      std::string("\x02\x00\x04"
                  "a\r\nb\x03",
                  8));
  ASSERT_TRUE(WaitForShown(2));
  EXPECT_EQ(shown_, (QStringList{"hello", "a\nb"}));
}

TEST_F(ComTestDialogTest, ClosingEndsTheTestAndReceivedTextGoesToTheOutputAgain) {
  dialog_->CloseButton()->click();
  EXPECT_FALSE(dialog_->isVisible());
  line_->Receive(
      std::string("\x02\x00\x04"
                  "echo\x03",
                  8));
  EXPECT_TRUE(output_.WaitFor("echo"));
  EXPECT_TRUE(shown_.isEmpty());
}

}  // namespace
}  // namespace tavrin::app
