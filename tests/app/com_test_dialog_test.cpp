// The COM port test dialog on a PortCore connected to an in-memory serial device: what Send
// writes, and what the Receiver shows of frames the reader thread takes from the device.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "app/com_test_dialog.h"
#include "qt_test_support.h"
#include "serial/serial_fakes.h"
#include "support/cue_sinks.h"
#include "support/recorders.h"

namespace tavrin::app {
namespace {

using testing::FakePrompts;

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

  QTemporaryDir dir_;
  std::shared_ptr<serial::test::FakeLine> line_ = std::make_shared<serial::test::FakeLine>();
  tavrin::test::CueOutput output_;
  transfer::TransferView view_;
  tavrin::test::RecordingErrorSink errors_;
  ComTestRelay relay_;
  FakePrompts prompts_;
  QStringList shown_;  // every text the Receiver showed
  std::unique_ptr<core::PortCore> core_;
  std::unique_ptr<ComTestDialog> dialog_;
};

// A test frame: 02, the text's length in two bytes (big-endian), the text, 03.
std::string TestFrame(const std::string& text) {
  return std::string{0x02, static_cast<char>(text.size() >> 8), static_cast<char>(text.size())} +
         text + '\x03';
}

TEST_F(ComTestDialogTest, SendWritesOneTestFrameOfAtMost3000Characters) {
  const std::pair<QString, std::string> cases[] = {
      {"a\nb", TestFrame("a\r\nb")},
      {QString(3000, 'x'), TestFrame(std::string(3000, 'x'))},
      {QString(3001, 'x'), ""},  // refused
  };
  std::string written;
  for (const auto& [text, frame] : cases) {
    SCOPED_TRACE(text.size());
    prompts_.messages.clear();
    dialog_->Transmitter()->setPlainText(text);
    dialog_->SendButton()->click();
    written += frame;
    // The frame goes out through the writer thread.
    EXPECT_TRUE(line_->WaitForWritten(written.size()));
    EXPECT_EQ(line_->Written(), written);
    EXPECT_EQ(dialog_->Transmitter()->toPlainText(), text);
    EXPECT_EQ(prompts_.messages.size(), frame.empty() ? 1u : 0u);
  }
  ASSERT_EQ(prompts_.messages.size(), 1u);  // the refusal of the last text
  EXPECT_EQ(prompts_.messages[0].caption, "COM Port Test");
  EXPECT_EQ(prompts_.LastText(),
            "Cann't Transmit!!!\nData exceeds the buffer size\nDelete some data and send again");
  EXPECT_EQ(prompts_.messages[0].icon, PromptIcon::kExclamation);
}

// Received text goes to the Receiver while the dialog is open, and to the output again
// once it is closed.
TEST_F(ComTestDialogTest, AnEchoSplitOverThreeReadsIsShownOnceWholeUntilTheDialogCloses) {
  line_->Receive(std::string("noise\x02\x00", 7));
  line_->Receive("\x05hel");
  line_->Receive("lo\x03");
  ASSERT_TRUE(testing::PumpUntil([&] { return shown_.size() == 1; }));
  dialog_->ClearReceiverButton()->click();
  EXPECT_EQ(dialog_->Receiver()->toPlainText(), "");
  line_->Receive(TestFrame("a\r\nb"));
  ASSERT_TRUE(testing::PumpUntil([&] { return shown_.size() == 2; }));
  EXPECT_EQ(shown_, (QStringList{"hello", "a\nb"}));

  dialog_->CloseButton()->click();
  line_->Receive(TestFrame("echo"));
  EXPECT_TRUE(output_.WaitFor("echo"));
  EXPECT_EQ(shown_.size(), 2);
}

}  // namespace
}  // namespace tavrin::app
