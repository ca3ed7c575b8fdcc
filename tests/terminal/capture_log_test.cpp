#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

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

}  // namespace
}  // namespace tavrin::terminal
