// The capture file and its feed of the output window, and the calls that must not wait
// for a sink or a report box that the UI thread has not served yet.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <future>
#include <thread>

#include "support/cue_sinks.h"
#include "support/recorders.h"
#include "support/temp_files.h"
#include "terminal/capture_log.h"

namespace tavrin::terminal {
namespace {

namespace fs = std::filesystem;
using test::AsBytes;
using test::ReadFile;

class CaptureLogTest : public ::testing::Test {
 protected:
  bool Reported(std::string_view step, int error) const {
    const auto errors = errorSink_.Errors();
    return std::find(errors.begin(), errors.end(), serial::FormatErrorReport(error, step)) !=
           errors.end();
  }

  test::TempDir dir_;
  test::RecordingOutputSink output_;
  test::RecordingErrorSink errorSink_;
  serial::ErrorReporter errors_{errorSink_};
};

TEST_F(CaptureLogTest, BlocksReachFileAndOutputWholeInTheirColourAndClearStartsAfresh) {
  test::WriteFile(dir_ / "test_1.log", "left from an earlier run");
  CaptureLog log(dir_.Path(), output_, errors_);
  ASSERT_EQ(log.Path(), dir_ / "test_1.log");
  const std::string big(3000, 'b');
  log.WriteToCapture(AsBytes("<== Failed ==>"), ColourMark::kRed);
  log.WriteToCapture(AsBytes(big));
  const auto blocks = output_.Blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].colour, ColourMark::kRed);
  EXPECT_EQ(blocks[1].bytes, big);  // in one piece
  EXPECT_EQ(blocks[1].colour, ColourMark::kNone);
  const std::string before = "<== Failed ==>" + big;
  EXPECT_EQ(ReadFile(log.Path()), before);
  EXPECT_EQ(log.StreamOffset(), before.size());

  // Save leaves the appends where they were; Clear empties file, window and offset.
  ASSERT_EQ(log.Save(dir_ / "saved.Log").outcome, SaveOutcome::kSaved);
  log.WriteToCapture(AsBytes("two"));
  EXPECT_EQ(ReadFile(dir_ / "saved.Log"), before);
  EXPECT_EQ(ReadFile(log.Path()), before + "two");
  log.Clear();
  EXPECT_TRUE(output_.Blocks().empty());
  EXPECT_EQ(log.Save(dir_ / "a.Log").outcome, SaveOutcome::kEmpty);
  log.WriteToCapture(AsBytes("after"));
  EXPECT_EQ(ReadFile(log.Path()), "after");
  EXPECT_EQ(output_.Text(), "after");
  EXPECT_EQ(log.StreamOffset(), 5u);
  EXPECT_TRUE(errorSink_.Errors().empty());
}

TEST_F(CaptureLogTest, PlantedSymlinkIsNotWrittenThrough) {
  test::WriteFile(dir_ / "victim", "keep me");
  fs::create_symlink(dir_ / "victim", dir_ / "test_1.log");
  CaptureLog log(dir_.Path(), output_, errors_);
  EXPECT_FALSE(log.IsOpen());
  EXPECT_TRUE(Reported("CreateFile", ELOOP));

  log.WriteToCapture(AsBytes("received"));
  log.Clear();
  EXPECT_EQ(ReadFile(dir_ / "victim"), "keep me");
  EXPECT_TRUE(output_.Blocks().empty());
  EXPECT_TRUE(Reported("WriteFile in file capture", EBADF));
  EXPECT_TRUE(Reported("WriteFile", EBADF));
}

TEST_F(CaptureLogTest, SecondLogInTheSameDirectoryCannotTakeOverTheCapture) {
  CaptureLog first(dir_.Path(), output_, errors_);
  first.WriteToCapture(AsBytes("first run"));
  CaptureLog second(dir_.Path(), output_, errors_);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_TRUE(Reported("CreateFile", EWOULDBLOCK));
  second.CloseAndDelete();
  EXPECT_EQ(ReadFile(first.Path()), "first run");
  first.CloseAndDelete();
  EXPECT_FALSE(fs::exists(first.Path()));
}

TEST_F(CaptureLogTest, ConcurrentBlocksNeverInterleave) {
  CaptureLog log(dir_.Path(), output_, errors_);
  constexpr std::size_t kBlockSize = 97;
  constexpr int kBlocksPerThread = 300;
  const auto writer = [&log](char fill) {
    const std::string block(kBlockSize, fill);
    for (int i = 0; i < kBlocksPerThread; ++i) log.WriteToCapture(AsBytes(block));
  };
  std::thread a(writer, 'A');
  std::thread b(writer, 'B');
  a.join();
  b.join();

  const std::string file = ReadFile(log.Path());
  ASSERT_EQ(file.size(), 2 * kBlocksPerThread * kBlockSize);
  EXPECT_EQ(output_.Text(), file);  // the window shows them in the file's order
  for (std::size_t at = 0; at < file.size(); at += kBlockSize) {
    const std::string_view block = std::string_view(file).substr(at, kBlockSize);
    ASSERT_EQ(block.find_first_not_of(block[0]), std::string_view::npos) << "offset " << at;
  }
}

constexpr std::string_view kSaved = "Log file created successfully. ";

struct SaveRow {
  const char* name;
  std::string capture;
  std::string chosen;  // the log file, under the test directory unless absolute
  SaveOutcome outcome;
  std::string_view text;
  MessageIcon icon;
  std::string log;  // the saved bytes, for the outcomes that leave a readable file
};

class CaptureSaveTest : public CaptureLogTest, public ::testing::WithParamInterface<SaveRow> {};

TEST_P(CaptureSaveTest, WritesTheLogAndReportsTheOutcome) {
  const SaveRow& row = GetParam();
  if (row.chosen == "/dev/full" && !fs::exists(row.chosen)) GTEST_SKIP() << "no /dev/full";
  CaptureLog log(dir_.Path(), output_, errors_);
  log.WriteToCapture(AsBytes(row.capture));
  const fs::path chosen = dir_ / row.chosen;

  const SaveResult result = log.Save(chosen);
  EXPECT_EQ(result.outcome, row.outcome);
  EXPECT_EQ(result.text, row.text);
  EXPECT_EQ(result.icon, row.icon);
  const bool pathCaption = row.outcome == SaveOutcome::kOpenFailed;
  EXPECT_EQ(result.caption, pathCaption ? chosen.string() : "Tavrin 1.1");
  if (row.outcome == SaveOutcome::kEmpty) {
    EXPECT_FALSE(fs::exists(chosen));
  } else if (row.outcome == SaveOutcome::kSaved) {
    EXPECT_EQ(ReadFile(chosen), row.log);
  }
}

std::string SpanningCopyChunks(char control) {
  std::string capture(200 * 1024, 'x');
  for (std::size_t i = 4095; i < capture.size(); i += 4096) capture[i] = control;
  capture[64 * 1024] = control;
  return capture;
}

INSTANTIATE_TEST_SUITE_P(
    Save, CaptureSaveTest,
    ::testing::Values(
        SaveRow{"Empty", "", "a.Log", SaveOutcome::kEmpty, "Buffer is Empty. ",
                MessageIcon::kExclamation, ""},
        // NUL, XON and the attention byte become blanks, also at the copy chunks' edges;
        // other bytes are kept.
        SaveRow{"ControlBytesBecomeBlanks",
                SpanningCopyChunks('\x17') + std::string("a\0b\021c\027\r\n\x01\x13\x7f\xff", 12),
                "a.Log", SaveOutcome::kSaved, kSaved, MessageIcon::kInformation,
                SpanningCopyChunks(' ') + "a b c \r\n\x01\x13\x7f\xff"},
        SaveRow{"FileCannotBeCreated", "text", "missing/a.Log", SaveOutcome::kOpenFailed,
                "Error opening file", MessageIcon::kNone, ""},
        SaveRow{"WriteFails", "text", "/dev/full", SaveOutcome::kWriteFailed, "Error Writing file",
                MessageIcon::kNone, ""}),
    [](const ::testing::TestParamInfo<SaveRow>& row) { return row.param.name; });

class CueErrors final : public serial::ErrorSink {
 public:
  void ShowError(std::string) override { shown.Hold(); }
  void EndProcess() override {}
  void Debug(std::string_view) override {}
  test::Cue shown;
};

template <typename Future>
bool Returns(Future& call) {
  return call.wait_for(test::kCueWait) == std::future_status::ready;
}

// Clear and Save waiting for a block the window has not taken yet, or a clear that
// overtakes that block and leaves it in the emptied window.
TEST_F(CaptureLogTest, ASinkStillShowingABlockHoldsUpNeitherClearNorSaveAndTheClearComesAfterIt) {
  test::CueOutput output;
  CaptureLog log(dir_.Path(), output, errors_);
  output.show.Arm();
  auto reader = std::async(std::launch::async, [&log] { log.WriteToCapture(AsBytes("old")); });
  ASSERT_TRUE(output.show.WaitReached());

  auto clear = std::async(std::launch::async, [&log] { log.Clear(); });
  const bool cleared = Returns(clear);
  auto save = std::async(std::launch::async, [&] { return log.Save(dir_ / "a.Log").outcome; });
  const bool saved = Returns(save);
  output.show.Release();
  EXPECT_TRUE(cleared);
  EXPECT_TRUE(saved);
  reader.get();
  clear.get();
  EXPECT_EQ(save.get(), SaveOutcome::kEmpty);

  log.WriteToCapture(AsBytes("new"));
  EXPECT_EQ(output.Calls(), "old\fnew");
  EXPECT_EQ(ReadFile(log.Path()), "new");
}

// A report box the operator has not closed holds up no other call of the log.
TEST_F(CaptureLogTest, AReportStillShownHoldsUpNoOtherCall) {
  CueErrors errorSink;
  serial::ErrorReporter reporter(errorSink);
  CaptureLog log(dir_.Path(), output_, reporter);
  log.CloseAndDelete();  // every later block is a failed write
  errorSink.shown.Arm();
  auto reader = std::async(std::launch::async, [&log] { log.WriteToCapture(AsBytes("lost")); });
  ASSERT_TRUE(errorSink.shown.WaitReached());

  auto clear = std::async(std::launch::async, [&log] { log.Clear(); });
  const bool cleared = Returns(clear);
  errorSink.shown.Release();
  EXPECT_TRUE(cleared);
  reader.get();
  clear.get();
  log.WriteToCapture(AsBytes("kept"));
  EXPECT_EQ(ReadFile(log.Path()), "kept");
}

// Save into a file that takes its bytes slowly (a pipe nobody drains yet): appends go on
// meanwhile, and the log holds the capture as it was when the copy began.
TEST_F(CaptureLogTest, ASlowSaveLetsAppendsGoOn) {
  CaptureLog log(dir_.Path(), output_, errors_);
  const std::string before(256 * 1024, 'b');  // more than a pipe holds
  log.WriteToCapture(AsBytes(before));
  const fs::path pipe = dir_ / "slow.Log";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

  auto save = std::async(std::launch::async, [&] { return log.Save(pipe).outcome; });
  const int drain = ::open(pipe.c_str(), O_RDONLY | O_CLOEXEC);  // Save's open returns
  ASSERT_GE(drain, 0);
  pollfd copying{drain, POLLIN, 0};  // the copy has begun: its length is taken
  ASSERT_EQ(::poll(&copying, 1, 5000), 1);
  auto reader = std::async(std::launch::async, [&log] { log.WriteToCapture(AsBytes("after")); });
  const bool appended = Returns(reader);

  std::string saved;
  char chunk[65536];
  for (ssize_t n; (n = ::read(drain, chunk, sizeof chunk)) > 0;)
    saved.append(chunk, static_cast<std::size_t>(n));
  ::close(drain);
  EXPECT_TRUE(appended);
  EXPECT_EQ(save.get(), SaveOutcome::kSaved);
  EXPECT_EQ(saved, before);
  EXPECT_EQ(ReadFile(log.Path()), before + "after");
}

// A sink that reads what it shows from the file it was handed: before the first block
// and after each Clear it gets the file the next blocks went to, and an older file stays
// readable through its reader after Clear has replaced it.
class ReadingSink final : public OutputSink {
 public:
  void Show(std::span<const std::uint8_t> bytes, ColourMark) override {
    std::string block(bytes.size(), '\0');
    const std::size_t read = file_ ? file_->ReadAt(test::AsWritableBytes(block), offset_) : 0;
    block.resize(read);
    offset_ += bytes.size();
    shown.push_back(block);
  }
  void ClearOutput() override { shown.push_back("<clear>"); }
  void UseCaptureFile(std::shared_ptr<const CaptureReader> file) override {
    if (file_) older.push_back(file_);
    file_ = std::move(file);
    offset_ = 0;
    shown.push_back(file_ ? "<file>" : "<no file>");
  }
  std::vector<std::string> shown;
  std::vector<std::shared_ptr<const CaptureReader>> older;

 private:
  std::shared_ptr<const CaptureReader> file_;
  std::uint64_t offset_ = 0;
};

TEST_F(CaptureLogTest, AReadingSinkGetsEachFileBeforeItsBlocks) {
  ReadingSink sink;
  CaptureLog log(dir_.Path(), sink, errors_);
  log.WriteToCapture(AsBytes("one"));
  log.WriteToCapture(AsBytes("two"));
  log.Clear();
  log.WriteToCapture(AsBytes("three"));
  EXPECT_EQ(sink.shown,
            (std::vector<std::string>{"<file>", "one", "two", "<clear>", "<file>", "three"}));
  ASSERT_EQ(sink.older.size(), 1u);
  std::string old(6, '\0');
  EXPECT_EQ(sink.older[0]->ReadAt(test::AsWritableBytes(old), 0), 6u);
  EXPECT_EQ(old, "onetwo");  // the file Clear deleted, still read through its reader
}

}  // namespace
}  // namespace tavrin::terminal
