// The question at the end of a download, "Save Downloaded File". The transfer thread asks
// it through TransferView::AskDownloadSavePath and waits for the answer or for a Cancel
// (Disconnect, close): the view answers whenever the operator has chosen, a window later
// and on its UI thread, so the transfer thread never waits on a UI thread that may itself
// be waiting for the transfer to end.
//
// Threads: the transfer thread makes the Slot, waits and closes it; the view answers from
// any thread. The Slot is shared, so a question the view still holds after the transfer
// has ended is harmless.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tavrin::transfer {

class DownloadSaveQuestion {
 public:
  class Slot;
  explicit DownloadSaveQuestion(std::shared_ptr<Slot> slot) : slot_(std::move(slot)) {}

  // The chosen path; nullopt when the operator cancelled the dialog. Only the first answer
  // counts, and one given after the transfer stopped waiting is ignored.
  void Answer(std::optional<std::filesystem::path> path) const;
  // Whether the transfer still waits: a window need not show a dialog nobody waits for.
  bool Awaited() const;

 private:
  std::shared_ptr<Slot> slot_;
};

// The transfer's side of one question.
class DownloadSaveQuestion::Slot {
 public:
  // `wake` is called (under the slot's lock) when the answer comes, until Close.
  explicit Slot(std::function<void()> wake) : wake_(std::move(wake)) {}

  bool Answered() const { return answered_.load(); }
  // Stops waiting: later answers are ignored and `wake` is never called again. Returns the
  // answer if one came and chose a path.
  std::optional<std::filesystem::path> Close();

 private:
  friend class DownloadSaveQuestion;
  void Answer(std::optional<std::filesystem::path> path);
  bool Open() const;

  mutable std::mutex mutex_;
  bool open_ = true;
  std::atomic<bool> answered_{false};
  std::optional<std::filesystem::path> answer_;
  std::function<void()> wake_;
};

}  // namespace tavrin::transfer
