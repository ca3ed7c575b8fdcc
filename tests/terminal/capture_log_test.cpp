#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>

#include "support/cue.h"
#include "support/recorders.h"
#include "terminal/capture_log.h"

namespace tavrin::terminal {
namespace {

namespace fs = std::filesystem;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

class CaptureLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / "capture_XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  bool Reported(std::string_view step, int error) const {
    const auto errors = errorSink_.Errors();
    return std::find(errors.begin(), errors.end(), serial::FormatErrorReport(error, step)) !=
           errors.end();
  }

  fs::path dir_;
  test::RecordingOutputSink output_;
  test::RecordingErrorSink errorSink_;
  serial::ErrorReporter errors_{errorSink_};
};

TEST_F(CaptureLogTest, ReplacesAnOlderCaptureWithAnEmptyFile) {
  WriteFile(dir_ / "test_1.log", "left from an earlier run");
  CaptureLog log(dir_, output_, errors_);
  EXPECT_TRUE(log.IsOpen());
  EXPECT_EQ(log.Path(), dir_ / "test_1.log");
  EXPECT_EQ(fs::file_size(log.Path()), 0u);
  EXPECT_TRUE(errorSink_.Errors().empty());
}

TEST_F(CaptureLogTest, ShowsA3000ByteBlockInOnePieceAfterThePreviousText) {
  CaptureLog log(dir_, output_, errors_);
  log.WriteToCapture(Bytes("boot> "));
  std::string big(3000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  log.WriteToCapture(Bytes(big));

  const auto blocks = output_.Blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].bytes, "boot> ");
  EXPECT_EQ(blocks[1].bytes, big);
  EXPECT_EQ(ReadFile(log.Path()), "boot> " + big);
  EXPECT_EQ(log.StreamOffset(), 3006u);
}

TEST_F(CaptureLogTest, ReportColourStaysWithItsBlock) {
  CaptureLog log(dir_, output_, errors_);
  log.WriteToCapture(Bytes("\r\n<== Failed ==>\r\n"), ColourMark::kRed);
  log.WriteToCapture(Bytes("target text"));
  log.WriteToCapture(Bytes("<== Upload Success ==>"), ColourMark::kBlue);

  const auto blocks = output_.Blocks();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].colour, ColourMark::kRed);
  EXPECT_EQ(blocks[1].colour, ColourMark::kNone);
  EXPECT_EQ(blocks[2].colour, ColourMark::kBlue);
}

TEST_F(CaptureLogTest, ClearEmptiesFileAndOutputAndTheNextBlockStartsAtOffsetZero) {
  CaptureLog log(dir_, output_, errors_);
  log.WriteToCapture(Bytes("before clear"));
  log.Clear();
  EXPECT_TRUE(output_.Blocks().empty());
  EXPECT_EQ(fs::file_size(log.Path()), 0u);
  EXPECT_EQ(log.StreamOffset(), 0u);
  EXPECT_EQ(log.Save(dir_ / "a.Log").outcome, SaveOutcome::kEmpty);

  log.WriteToCapture(Bytes("after"));
  EXPECT_EQ(ReadFile(log.Path()), "after");
  ASSERT_EQ(output_.Blocks().size(), 1u);
  EXPECT_EQ(output_.Blocks()[0].bytes, "after");
  EXPECT_EQ(log.StreamOffset(), 5u);
}

TEST_F(CaptureLogTest, PlantedSymlinkIsNotWrittenThrough) {
  const fs::path victim = dir_ / "victim";
  WriteFile(victim, "keep me");
  fs::create_symlink(victim, dir_ / "test_1.log");

  CaptureLog log(dir_, output_, errors_);
  EXPECT_FALSE(log.IsOpen());
  EXPECT_TRUE(Reported("CreateFile", ELOOP));

  log.WriteToCapture(Bytes("received"));
  log.Clear();
  log.WriteToCapture(Bytes("received"));
  EXPECT_EQ(ReadFile(victim), "keep me");
  EXPECT_TRUE(fs::is_symlink(dir_ / "test_1.log"));
  EXPECT_TRUE(output_.Blocks().empty());
  EXPECT_TRUE(Reported("WriteFile in file capture", EBADF));
  EXPECT_TRUE(Reported("WriteFile", EBADF));
}

TEST_F(CaptureLogTest, SecondLogInTheSameDirectoryCannotTakeOverTheCapture) {
  CaptureLog first(dir_, output_, errors_);
  first.WriteToCapture(Bytes("first run"));

  test::RecordingOutputSink secondOutput;
  CaptureLog second(dir_, secondOutput, errors_);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_TRUE(Reported("CreateFile", EWOULDBLOCK));
  second.CloseAndDelete();
  EXPECT_EQ(ReadFile(first.Path()), "first run");

  first.CloseAndDelete();
  EXPECT_FALSE(fs::exists(first.Path()));
}

TEST_F(CaptureLogTest, ConcurrentBlocksNeverInterleave) {
  CaptureLog log(dir_, output_, errors_);
  constexpr std::size_t kBlockSize = 97;
  constexpr int kBlocksPerThread = 300;
  const auto writer = [&log](char fill) {
    const std::string block(kBlockSize, fill);
    for (int i = 0; i < kBlocksPerThread; ++i) log.WriteToCapture(Bytes(block));
  };
  std::thread a(writer, 'A');
  std::thread b(writer, 'B');
  a.join();
  b.join();

  const std::string file = ReadFile(log.Path());
  ASSERT_EQ(file.size(), 2 * kBlocksPerThread * kBlockSize);
  EXPECT_EQ(output_.Text(), file);
  for (std::size_t at = 0; at < file.size(); at += kBlockSize) {
    const std::string_view block = std::string_view(file).substr(at, kBlockSize);
    ASSERT_EQ(block.find_first_not_of(block[0]), std::string_view::npos) << "offset " << at;
  }
  for (const auto& shown : output_.Blocks()) ASSERT_EQ(shown.bytes.size(), kBlockSize);
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
  CaptureLog log(dir_, output_, errors_);
  log.WriteToCapture(Bytes(row.capture));
  const fs::path chosen = dir_ / row.chosen;

  const SaveResult result = log.Save(chosen);
  EXPECT_EQ(result.outcome, row.outcome);
  EXPECT_EQ(result.text, row.text);
  EXPECT_EQ(result.icon, row.icon);
  const bool pathCaption = row.outcome == SaveOutcome::kOpenFailed;
  EXPECT_EQ(result.caption, pathCaption ? chosen.string() : "Tavrin 1.1");
  if (row.outcome == SaveOutcome::kEmpty) {
    EXPECT_FALSE(fs::exists(chosen));
  }
  if (row.outcome == SaveOutcome::kSaved) {
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
        SaveRow{"ControlBytesBecomeBlanks",
                std::string("a\0b\021c\027d", 7),  // NUL, XON, attention byte
                "a.Log", SaveOutcome::kSaved, kSaved, MessageIcon::kInformation, "a b c d"},
        SaveRow{"OtherBytesKept", "ln\r\n\x01\x13\x7f\xff\x06\n", "a.Log", SaveOutcome::kSaved,
                kSaved, MessageIcon::kInformation, "ln\r\n\x01\x13\x7f\xff\x06\n"},
        SaveRow{"SpansSeveralCopyChunks", SpanningCopyChunks('\x17'), "a.Log", SaveOutcome::kSaved,
                kSaved, MessageIcon::kInformation, SpanningCopyChunks(' ')},
        SaveRow{"FileCannotBeCreated", "text", "missing/a.Log", SaveOutcome::kOpenFailed,
                "Error opening file", MessageIcon::kNone, ""},
        SaveRow{"WriteFails", "text", "/dev/full", SaveOutcome::kWriteFailed, "Error Writing file",
                MessageIcon::kNone, ""}),
    [](const ::testing::TestParamInfo<SaveRow>& row) { return row.param.name; });

TEST_F(CaptureLogTest, SaveLeavesAppendsAndTheStreamWhereTheyWere) {
  CaptureLog log(dir_, output_, errors_);
  log.WriteToCapture(Bytes("one "));
  ASSERT_EQ(log.Save(dir_ / "saved.Log").outcome, SaveOutcome::kSaved);
  log.WriteToCapture(Bytes("two"));
  EXPECT_EQ(ReadFile(log.Path()), "one two");
  EXPECT_EQ(output_.Text(), "one two");
  EXPECT_EQ(ReadFile(dir_ / "saved.Log"), "one ");
}

using test::Cue;
using test::kCueWait;

// The calls in order, "\f" for a ClearOutput; Show stops at the gate.
class GatedOutput final : public OutputSink {
 public:
  void Show(std::span<const std::uint8_t> bytes, ColourMark) override {
    {
      std::lock_guard lock(mutex_);
      calls_.append(bytes.begin(), bytes.end());
    }
    gate.Hold();
  }
  void ClearOutput() override {
    std::lock_guard lock(mutex_);
    calls_ += '\f';
  }
  std::string Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  Cue gate;

 private:
  mutable std::mutex mutex_;
  std::string calls_;
};

class GatedErrors final : public serial::ErrorSink {
 public:
  void ShowError(std::string) override { gate.Hold(); }
  void EndProcess() override {}
  void Debug(std::string_view) override {}
  Cue gate;
};

template <typename Future>
bool Returns(Future& call) {
  return call.wait_for(kCueWait) == std::future_status::ready;
}

// The reader thread is still inside Show with its block (the window has not taken it
// yet): Clear and Save do not wait for it, and the sink gets the clear after that block,
// so the emptied window never shows the block again.
TEST_F(CaptureLogTest, ASinkStillShowingABlockHoldsUpNeitherClearNorSaveAndTheClearComesAfterIt) {
  GatedOutput output;
  CaptureLog log(dir_, output, errors_);
  output.gate.Arm();
  auto reader = std::async(std::launch::async, [&log] { log.WriteToCapture(Bytes("old")); });
  ASSERT_TRUE(output.gate.WaitReached());

  auto clear = std::async(std::launch::async, [&log] { log.Clear(); });
  const bool cleared = Returns(clear);
  auto save = std::async(std::launch::async, [&] { return log.Save(dir_ / "a.Log").outcome; });
  const bool saved = Returns(save);
  output.gate.Release();
  EXPECT_TRUE(cleared);
  EXPECT_TRUE(saved);
  reader.get();
  clear.get();
  EXPECT_EQ(save.get(), SaveOutcome::kEmpty);

  log.WriteToCapture(Bytes("new"));
  EXPECT_EQ(output.Calls(), "old\fnew");
  EXPECT_EQ(ReadFile(log.Path()), "new");
}

// A report box the operator has not closed (the reading thread is inside ShowError) holds
// up no other call of the log.
TEST_F(CaptureLogTest, AReportStillShownHoldsUpNoOtherCall) {
  GatedErrors errorSink;
  serial::ErrorReporter reporter(errorSink);
  CaptureLog log(dir_, output_, reporter);
  log.CloseAndDelete();  // every later block is a failed write
  errorSink.gate.Arm();
  auto reader = std::async(std::launch::async, [&log] { log.WriteToCapture(Bytes("lost")); });
  ASSERT_TRUE(errorSink.gate.WaitReached());

  auto clear = std::async(std::launch::async, [&log] { log.Clear(); });
  const bool cleared = Returns(clear);
  errorSink.gate.Release();
  EXPECT_TRUE(cleared);
  reader.get();
  clear.get();
  log.WriteToCapture(Bytes("kept"));
  EXPECT_EQ(ReadFile(log.Path()), "kept");
}

// Save into a file that takes its bytes slowly (a pipe nobody drains yet): the reader
// thread's appends go on meanwhile, and the log holds the capture as it was when the
// copy began.
TEST_F(CaptureLogTest, ASlowSaveLetsAppendsGoOn) {
  CaptureLog log(dir_, output_, errors_);
  const std::string before(256 * 1024, 'b');  // more than a pipe holds
  log.WriteToCapture(Bytes(before));
  const fs::path pipe = dir_ / "slow.Log";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

  auto save = std::async(std::launch::async, [&] { return log.Save(pipe).outcome; });
  const int drain = ::open(pipe.c_str(), O_RDONLY | O_CLOEXEC);  // Save's open returns
  ASSERT_GE(drain, 0);
  pollfd copying{drain, POLLIN, 0};  // the copy has begun: its length is taken
  ASSERT_EQ(::poll(&copying, 1, 5000), 1);
  auto reader = std::async(std::launch::async, [&log] { log.WriteToCapture(Bytes("after")); });
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

}  // namespace
}  // namespace tavrin::terminal
