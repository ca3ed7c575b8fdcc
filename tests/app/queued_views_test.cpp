// The engine's threads reach the window only through queued calls: they arrive on the UI
// thread, in order, with their own copies of what was handed in.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <thread>

#include "app/queued_views.h"
#include "qt_test_support.h"

namespace tavrin::app {
namespace {

using testing::PumpUntil;

// Records which thread each call arrived on and what it carried.
class RecordingView final : public transfer::TransferView {
 public:
  void SetSent(std::optional<std::uint32_t> sent) override {
    onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
    calls.push_back("sent " + (sent ? std::to_string(*sent) : std::string("-")));
  }
  void SetFileName(std::filesystem::path path) override {
    calls.push_back("file " + path.string());
  }
  void ShowMessage(std::string caption, std::string text, transfer::MessageIcon) override {
    calls.push_back("box " + caption + ": " + text);
  }
  void AskDownloadSavePath(transfer::DownloadSaveQuestion question) override {
    calls.push_back("ask");
    question.Answer(answer);
  }

  std::vector<std::string> calls;
  bool onUiThread = true;
  std::optional<std::filesystem::path> answer;
};

TEST(QueuedTransferView, WorkerCallsArriveOnTheUiThreadInOrderWithCopies) {
  RecordingView ui;
  QueuedTransferView view(ui);
  std::thread worker([&] {
    for (std::uint32_t i = 1; i <= 3; ++i) view.SetSent(i);
    {
      std::filesystem::path temporary = "/tmp/image.urt";
      view.SetFileName(temporary);
    }  // the path handed in is gone before the UI thread runs the call
    std::string text = "Unable to upload";
    view.ShowMessage("Tavrin 1.1", text, transfer::MessageIcon::kStop);
    text.assign(text.size(), 'x');
    view.SetSent(std::nullopt);
  });
  worker.join();
  EXPECT_TRUE(ui.calls.empty());  // nothing runs on the worker
  ASSERT_TRUE(PumpUntil([&] { return ui.calls.size() == 6; }));
  EXPECT_EQ(ui.calls, (std::vector<std::string>{"sent 1", "sent 2", "sent 3", "file /tmp/image.urt",
                                                "box Tavrin 1.1: Unable to upload", "sent -"}));
  EXPECT_TRUE(ui.onUiThread);
}

TEST(QueuedTransferView, SaveQuestionIsAnsweredOnTheUiThread) {
  RecordingView ui;
  ui.answer = "/tmp/saved.dbf";
  QueuedTransferView view(ui);
  std::atomic<bool> woken{false};
  auto slot = std::make_shared<transfer::DownloadSaveQuestion::Slot>([&] { woken = true; });
  std::thread worker([&] { view.AskDownloadSavePath(transfer::DownloadSaveQuestion(slot)); });
  worker.join();  // asking never waits for the UI
  EXPECT_FALSE(slot->Answered());
  ASSERT_TRUE(PumpUntil([&] { return slot->Answered(); }));
  EXPECT_TRUE(woken);
  EXPECT_EQ(slot->Close(), std::filesystem::path("/tmp/saved.dbf"));
}

TEST(QueuedErrorSink, ShowsEveryReportThenEndsTheProgram) {
  testing::FakePrompts prompts;
  std::vector<std::size_t> boxesShownAtEnd;
  QueuedErrorSink sink(prompts, [&] { boxesShownAtEnd.push_back(prompts.messages.size()); });
  std::thread worker([&] {
    sink.ShowError("Error 5: ReadFile.\n\rInput/output error\r\n");
    sink.ShowError("Error 5: WriteFile.\n\rInput/output error\r\n");
    sink.EndProcess();
  });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return !boxesShownAtEnd.empty(); }));
  EXPECT_EQ(boxesShownAtEnd, std::vector<std::size_t>{2});
  ASSERT_EQ(prompts.messages.size(), 2u);
  EXPECT_EQ(prompts.messages[0].caption, QString(kErrorBoxCaption));
  EXPECT_EQ(prompts.messages[1].text, QString("Error 5: WriteFile.\n\rInput/output error\r\n"));
}

}  // namespace
}  // namespace tavrin::app
