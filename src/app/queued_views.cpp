#include "app/queued_views.h"

#include <QWidget>
#include <cstdio>
#include <utility>

namespace tavrin::app {

// One question of the transfer thread to the operator, answered on the UI thread.
struct QueuedTransferView::Question {
  std::mutex mutex;
  std::condition_variable answered;
  bool done = false;
  std::optional<std::filesystem::path> answer;

  // False when the question had its answer already.
  bool Answer(std::optional<std::filesystem::path> value) {
    {
      std::lock_guard lock(mutex);
      if (done) return false;
      done = true;
      answer = std::move(value);
    }
    answered.notify_all();
    return true;
  }
  bool Done() {
    std::lock_guard lock(mutex);
    return done;
  }
};

QueuedTransferView::QueuedTransferView(transfer::TransferView& uiView) : uiView_(uiView) {}

QueuedTransferView::~QueuedTransferView() {
  Abandon();
}

void QueuedTransferView::Post(std::function<void(transfer::TransferView&)> call) {
  queue_.Post([view = &uiView_, call = std::move(call)] { call(*view); });
}

void QueuedTransferView::SetSendIndicator(bool shown) {
  Post([shown](transfer::TransferView& v) { v.SetSendIndicator(shown); });
}

void QueuedTransferView::SetReceiveIndicator(bool shown) {
  Post([shown](transfer::TransferView& v) { v.SetReceiveIndicator(shown); });
}

void QueuedTransferView::SetTotal(std::optional<std::uint32_t> total) {
  Post([total](transfer::TransferView& v) { v.SetTotal(total); });
}

void QueuedTransferView::SetSent(std::optional<std::uint32_t> sent) {
  Post([sent](transfer::TransferView& v) { v.SetSent(sent); });
}

void QueuedTransferView::FrameWritten(std::size_t bytes) {
  Post([bytes](transfer::TransferView& v) { v.FrameWritten(bytes); });
}

void QueuedTransferView::SetFileName(const std::filesystem::path& path) {
  Post([path](transfer::TransferView& v) { v.SetFileName(path); });
}

void QueuedTransferView::SetProgressRange(std::uint32_t max) {
  Post([max](transfer::TransferView& v) { v.SetProgressRange(max); });
}

void QueuedTransferView::SetProgressPosition(std::uint32_t position) {
  Post([position](transfer::TransferView& v) { v.SetProgressPosition(position); });
}

void QueuedTransferView::StepProgress() {
  Post([](transfer::TransferView& v) { v.StepProgress(); });
}

void QueuedTransferView::ShowProgressBar(bool shown) {
  Post([shown](transfer::TransferView& v) { v.ShowProgressBar(shown); });
}

void QueuedTransferView::HideProgressLabel() {
  Post([](transfer::TransferView& v) { v.HideProgressLabel(); });
}

void QueuedTransferView::RefreshTransferState() {
  Post([](transfer::TransferView& v) { v.RefreshTransferState(); });
}

void QueuedTransferView::TransferControlsIdle() {
  Post([](transfer::TransferView& v) { v.TransferControlsIdle(); });
}

void QueuedTransferView::ShowMessage(const std::string& caption, const std::string& text,
                                     transfer::MessageIcon icon) {
  Post([caption, text, icon](transfer::TransferView& v) { v.ShowMessage(caption, text, icon); });
}

void QueuedTransferView::ResultReported(int code) {
  Post([code](transfer::TransferView& v) { v.ResultReported(code); });
}

void QueuedTransferView::RegionCrcMismatch(int region) {
  Post([region](transfer::TransferView& v) { v.RegionCrcMismatch(region); });
}

void QueuedTransferView::RegionProgress(int region, std::uint64_t bytes) {
  Post([region, bytes](transfer::TransferView& v) { v.RegionProgress(region, bytes); });
}

std::optional<std::filesystem::path> QueuedTransferView::AskDownloadSavePath() {
  auto question = std::make_shared<Question>();
  {
    std::lock_guard lock(mutex_);
    if (abandoned_) return std::nullopt;
    if (held_) {
      heldQuestion_ = true;
      return std::nullopt;
    }
    questions_.push_back(question);
  }
  // The call holds the question: a call dropped with the window leaves it unanswered, and
  // Abandon answers it instead. A question the hold answered before the call ran is not
  // shown (Answer and this call both run on the UI thread, so the test is not stale).
  Post([question](transfer::TransferView& v) {
    if (!question->Done()) question->Answer(v.AskDownloadSavePath());
  });
  std::unique_lock lock(question->mutex);
  // Bounded by the operator's answer, or by the window's Abandon or HoldQuestions.
  question->answered.wait(lock, [&] { return question->done; });
  auto answer = question->answer;
  lock.unlock();
  std::lock_guard listLock(mutex_);
  std::erase(questions_, question);
  return answer;
}

void QueuedTransferView::Abandon() {
  std::vector<std::shared_ptr<Question>> waiting;
  {
    std::lock_guard lock(mutex_);
    abandoned_ = true;
    waiting = questions_;
  }
  for (auto& question : waiting) question->Answer(std::nullopt);
}

void QueuedTransferView::HoldQuestions() {
  std::vector<std::shared_ptr<Question>> waiting;
  {
    std::lock_guard lock(mutex_);
    held_ = true;
    waiting = questions_;
  }
  bool answered = false;
  for (auto& question : waiting) answered = question->Answer(std::nullopt) || answered;
  if (!answered) return;
  std::lock_guard lock(mutex_);
  heldQuestion_ = true;
}

bool QueuedTransferView::ReleaseQuestions() {
  std::lock_guard lock(mutex_);
  held_ = false;
  return std::exchange(heldQuestion_, false);
}

QueuedErrorSink::QueuedErrorSink(UserPrompts& prompts, std::function<void()> endProcess)
    : prompts_(prompts), endProcess_(std::move(endProcess)) {}

void QueuedErrorSink::SetOwner(QWidget* owner) {
  owner_ = owner;
}

void QueuedErrorSink::ShowError(const std::string& text) {
  // The queue runs one call at a time: a later report or the end waits for this box.
  queue_.Post([this, text] {
    prompts_.Message(owner_.data(), kErrorBoxCaption, QString::fromStdString(text),
                     PromptIcon::kNone);
  });
}

void QueuedErrorSink::Debug(std::string_view text) {
  std::string line(text);
  if (line.empty() || line.back() != '\n') line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void QueuedErrorSink::EndProcess() {
  queue_.Post([this] {
    if (endProcess_) endProcess_();
  });
}

}  // namespace tavrin::app
