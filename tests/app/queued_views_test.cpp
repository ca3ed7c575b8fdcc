// The engine's threads reach the window only through queued calls: they arrive on the UI
// thread, in order, with their own copies of what was handed in.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <functional>
#include <future>
#include <thread>
#include <utility>

#include "app/queued_views.h"
#include "app/ui_queue.h"
#include "fake_prompts.h"
#include "pump.h"

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
  void SetFileName(const std::filesystem::path& path) override {
    calls.push_back("file " + path.string());
  }
  void ShowMessage(const std::string& caption, const std::string& text,
                   transfer::MessageIcon) override {
    calls.push_back("box " + caption + ": " + text);
  }
  std::optional<std::filesystem::path> AskDownloadSavePath() override {
    calls.push_back("ask");
    return answer;
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

TEST(QueuedTransferView, SaveQuestionWaitsForTheUiAnswer) {
  RecordingView ui;
  ui.answer = "/tmp/saved.dbf";
  QueuedTransferView view(ui);
  auto asked = std::async(std::launch::async, [&] { return view.AskDownloadSavePath(); });
  ASSERT_TRUE(PumpUntil(
      [&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(asked.get(), std::filesystem::path("/tmp/saved.dbf"));
}

TEST(QueuedTransferView, AbandonAnswersAWaitingQuestionWithNothing) {
  RecordingView ui;
  std::optional<std::future<std::optional<std::filesystem::path>>> asked;
  {
    QueuedTransferView view(ui);
    asked = std::async(std::launch::async, [&] { return view.AskDownloadSavePath(); });
    // The window goes away before its event loop ran the question.
    view.Abandon();
    ASSERT_EQ(asked->wait_for(std::chrono::seconds(5)), std::future_status::ready);
  }
  EXPECT_EQ(asked->get(), std::nullopt);
  QCoreApplication::processEvents();
  EXPECT_TRUE(ui.calls.empty() || ui.calls == std::vector<std::string>{"ask"});
}

// Runs `hook` once, just before the UI queue runs what a worker posted: the moment after a
// question was asked and before it is shown.
class BeforeQueueRuns final : public QObject {
 public:
  explicit BeforeQueueRuns(std::function<void()> hook) : hook_(std::move(hook)) {
    qApp->installEventFilter(this);
  }
  ~BeforeQueueRuns() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* receiver, QEvent* event) override {
    if (hook_ && event->type() == QEvent::MetaCall && qobject_cast<UiQueue*>(receiver)) {
      std::exchange(hook_, nullptr)();
    }
    return false;
  }

 private:
  std::function<void()> hook_;
};

// While the UI thread waits for the engine (Disconnect, close) it cannot show a question:
// one asked but not shown yet, and one asked during the hold, get no path at once and are
// never shown, and the window learns that one was held. Afterwards questions wait again.
TEST(QueuedTransferView, HeldQuestionsAreAnsweredAtOnceAndNeverShown) {
  RecordingView ui;
  ui.answer = "/tmp/later.dbf";
  QueuedTransferView view(ui);
  BeforeQueueRuns hold([&] { view.HoldQuestions(); });
  auto early = std::async(std::launch::async, [&] { return view.AskDownloadSavePath(); });
  ASSERT_TRUE(PumpUntil(
      [&] { return early.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(early.get(), std::nullopt);
  EXPECT_EQ(std::async(std::launch::async, [&] { return view.AskDownloadSavePath(); }).get(),
            std::nullopt);
  QCoreApplication::processEvents();
  EXPECT_TRUE(ui.calls.empty());
  EXPECT_TRUE(view.ReleaseQuestions());
  EXPECT_FALSE(view.ReleaseQuestions());

  auto after = std::async(std::launch::async, [&] { return view.AskDownloadSavePath(); });
  ASSERT_TRUE(PumpUntil(
      [&] { return after.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  EXPECT_EQ(after.get(), std::filesystem::path("/tmp/later.dbf"));
  EXPECT_EQ(ui.calls, std::vector<std::string>{"ask"});
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
