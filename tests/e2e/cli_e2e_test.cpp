// tavrin-cli against tavrin-target-sim, each a process of its own, over a pseudo-terminal.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "e2e_files.h"
#include "processes.h"
#include "transfer/report_texts.h"

namespace tavrin::test {
namespace {

using namespace std::chrono_literals;
std::string Block(int code) {
  return transfer::ReportBlockFor(code)->text;
}

class CliEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.Path().empty());
    dir_ = scratch_.Path();
  }

  // A URT image for the simulated target's default identity.
  std::filesystem::path WriteImage(std::size_t frames, std::size_t payload = 2000) {
    return WriteUrt(dir_ / "image.urt", std::vector<std::size_t>(frames, payload));
  }

  ScratchDir scratch_;
  std::filesystem::path dir_;
};

TEST_F(CliEndToEnd, UploadSucceedsAndStdoutIsTheCaptureStream) {
  SimProcess sim({});
  ASSERT_FALSE(sim.Device().empty());
  const auto log = dir_ / "session.log";
  const auto run =
      RunCli({"upload", "--port", sim.Device(), "--log", log.string(), WriteImage(12).string()});
  EXPECT_EQ(run.status, 0) << run.err;
  // --log saves the capture as stdout showed it, with 0x00, 0x11 and 0x17 saved as blanks.
  std::ifstream saved(log, std::ios::binary);
  const std::string logged{std::istreambuf_iterator<char>(saved), {}};
  std::string shownAsSaved = run.out;
  for (char& c : shownAsSaved) {
    if (c == '\x00' || c == '\x11' || c == '\x17') c = ' ';
  }
  EXPECT_EQ(logged, shownAsSaved);
  EXPECT_NE(run.err.find("Log file created successfully. "), std::string::npos) << run.err;
  // Around the success block (the target's last ENQ may come in just after it) the target's
  // control bytes show as blanks. The who-am-I answer's own bytes are never blanked: it
  // shows when a read boundary falls so that the answer is gathered from a block of its own.
  const auto block = run.out.find(Block(1));
  ASSERT_NE(block, std::string::npos) << run.out;
  std::string rest = run.out;
  rest.erase(block, Block(1).size());
  // The answer is FE 01 00 and the 11 identity bytes; its lead-in 00 is blanked.
  const std::string answer = "\xFE\x01 \x55\x66\x77\x11\x22\x33\x44\x88\x99\xAA\xBB";
  if (const auto at = rest.find(answer); at != std::string::npos) rest.erase(at, answer.size());
  EXPECT_EQ(rest.find_first_not_of(' '), std::string::npos) << run.out;
  EXPECT_EQ(sim.Stop().find("problem"), std::string::npos);
}

struct RefusalRow {
  const char* scenario;
  int code;
};

class CliRefusal : public CliEndToEnd, public testing::WithParamInterface<RefusalRow> {};

TEST_P(CliRefusal, ExitsWith4AndTheReport) {
  SimProcess sim({"--scenario", GetParam().scenario});
  const auto run = RunCli({"upload", "--port", sim.Device(), WriteImage(5).string()});
  EXPECT_EQ(run.status, 4);
  EXPECT_NE(run.out.find(Block(GetParam().code)), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Targets, CliRefusal,
                         testing::Values(RefusalRow{"refuse-eot", 4}, RefusalRow{"refuse-dc3", 19},
                                         RefusalRow{"refuse-etb", 23},
                                         RefusalRow{"refuse-eot-after-frames", 4}),
                         [](const auto& row) {
                           std::string name = row.param.scenario;
                           std::erase(name, '-');
                           return name;
                         });

TEST_F(CliEndToEnd, SilentTargetGivesOneNoResponseThenTheTimeoutCancels) {
  SimProcess sim({"--scenario", "silent"});
  const auto run =
      RunCli({"upload", "--port", sim.Device(), "--timeout", "16.5", WriteImage(1).string()}, 40s);
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.out, Block(-4) + Block(23));
}

TEST_F(CliEndToEnd, CtrlCCancelsWith23) {
  SimProcess sim({"--scenario", "silent"});
  const auto run = RunCli({"upload", "--port", sim.Device(), WriteImage(1).string()}, 20s, 500ms);
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.out, Block(23));
}

TEST_F(CliEndToEnd, ComTestEchoesTheText) {
  SimProcess sim({});
  const auto run = RunCli({"comtest", "--port", sim.Device(), "abc"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "abc\n");
}

TEST_F(CliEndToEnd, PortInUseOrMissingExits3) {
  SimProcess sim({});
  const auto missing = RunCli({"upload", "--port", "/dev/tavrin-no-such-port", "x.urt"});
  EXPECT_EQ(missing.status, 3);
  EXPECT_NE(missing.err.find("Port is not available."), std::string::npos);
}

TEST_F(CliEndToEnd, BadFilesExit2) {
  SimProcess sim({});
  EXPECT_EQ(RunCli({"upload", "--port", sim.Device(), (dir_ / "missing.urt").string()}).status, 2);
  const auto notUrt = dir_ / "not.urt";
  std::ofstream(notUrt) << "MZ not an image";
  const auto run = RunCli({"upload", "--port", sim.Device(), notUrt.string()});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Unable to upload\nGiven URT file is invalid."), std::string::npos);
  EXPECT_EQ(RunCli({"download", "--port", sim.Device(), "--output", "x.dbf",
                    (dir_ / "missing.dsf").string()})
                .status,
            2);
  EXPECT_EQ(RunCli({"upload"}).status, 1);
}

TEST_F(CliEndToEnd, DownloadGivesTheExpectedDbf) {
  const std::vector<Region> regions{
      {0x1000, 0x1000 + 1000, 1}, {0x8000, 0x8000 + 5000, 0}, {0x20000, 0x20000 + 3000, 4}};
  SimProcess sim({"--seed", "7"});
  const auto out = dir_ / "out.dbf";
  const auto run = RunCli({"download", "--port", sim.Device(), "--output", out.string(),
                           WriteScript(dir_, regions).string()});
  EXPECT_EQ(run.status, 0) << run.err;
  const Bytes dbf = ReadAll(out);
  EXPECT_EQ(dbf, ExpectedDbf(regions, 7));
  ASSERT_GE(dbf.size(), 16u);
  EXPECT_EQ(Bytes(dbf.begin() + 12, dbf.begin() + 16), (Bytes{0xF8, 0x03, 0x00, 0x00}));
  EXPECT_EQ(run.out, Block(2) + Block(3));
}

TEST_F(CliEndToEnd, DownloadRecoversFromBadFrames) {
  const std::vector<Region> regions{{0, 6000, 1}};
  SimProcess sim({"--seed", "3", "--fault", "bad-sum", "--fault", "oversize"});
  const auto out = dir_ / "out.dbf";
  const auto run = RunCli({"download", "--port", sim.Device(), "--output", out.string(),
                           WriteScript(dir_, regions).string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadAll(out), ExpectedDbf(regions, 3));
}

// The target's first info packet carries a wrong CRC: the region is saved with the warning
// (exit 5) unless --retries fetches it again, alone, and puts the good copy in its place.
struct WrongCrcRow {
  const char* retries;
  int status;
};

class CliWrongCrc : public CliEndToEnd, public testing::WithParamInterface<WrongCrcRow> {};

TEST_P(CliWrongCrc, WarnsAndIsFetchedAgainWhenAsked) {
  const std::vector<Region> regions{{0, 800, 1}, {0x4000, 0x4000 + 500, 0}, {0x9000, 0x9300, 2}};
  SimProcess sim({"--seed", "5", "--fault", "wrong-crc"});
  const auto out = dir_ / "out.dbf";
  const auto run = RunCli({"download", "--port", sim.Device(), "--retries", GetParam().retries,
                           "--output", out.string(), WriteScript(dir_, regions).string()});
  EXPECT_EQ(run.status, GetParam().status) << run.err;
  EXPECT_NE(run.out.find(transfer::CrcWarningBlock(1).text), std::string::npos);
  const Bytes dbf = ReadAll(out);
  if (GetParam().status == 0) {
    EXPECT_EQ(dbf, ExpectedDbf(regions, 5));
    EXPECT_NE(run.err.find("regions fetched again: 1\n"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("every region fetched again matches its CRC now"), std::string::npos);
    // The second download asked for region 1 alone and ended like any other.
    EXPECT_EQ(run.out.rfind(Block(2) + Block(3)),
              run.out.size() - Block(2).size() - Block(3).size());
  } else {
    EXPECT_EQ(dbf.size(), ExpectedDbf(regions, 5).size());
  }
}

INSTANTIATE_TEST_SUITE_P(Retries, CliWrongCrc,
                         testing::Values(WrongCrcRow{"0", 5}, WrongCrcRow{"1", 0}),
                         [](const auto& row) {
                           return "Retries" + std::string(row.param.retries);
                         });

TEST_F(CliEndToEnd, ScriptShowListsTheColumns) {
  const auto script = WriteScript(dir_, {{0x10000, 0x1FFFF, 1}});
  const auto run = RunCli({"script", "show", script.string()});
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Start Address"), std::string::npos);
  EXPECT_NE(run.out.find("10000"), std::string::npos);
  EXPECT_NE(run.out.find("1FFFF"), std::string::npos);
  EXPECT_NE(run.out.find("FLASH"), std::string::npos);
}

}  // namespace
}  // namespace tavrin::test

namespace tavrin::test {
namespace {

// The device goes away in the middle of a transfer: the run ends at once with the
// system's description and status 6, and the capture so far stays on disk.
TEST_F(CliEndToEnd, LostDeviceExits6AndKeepsTheCapture) {
  SimProcess sim({"--scenario", "silent"});
  std::thread unplug([&] {
    std::this_thread::sleep_for(700ms);
    sim.Stop();
  });
  const auto started = std::chrono::steady_clock::now();
  const auto run = RunCli({"upload", "--port", sim.Device(), WriteImage(3).string()}, 20s);
  unplug.join();
  EXPECT_EQ(run.status, 6) << run.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  EXPECT_NE(run.err.find("Input/output error"), std::string::npos) << run.err;
  const auto kept = run.err.find("the capture is kept in ");
  ASSERT_NE(kept, std::string::npos) << run.err;
  const auto begin = kept + std::string("the capture is kept in ").size();
  const std::filesystem::path capture = run.err.substr(begin, run.err.find('\n', begin) - begin);
  std::ifstream in(capture, std::ios::binary);
  const std::string onDisk{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(onDisk, run.out);
  std::filesystem::remove_all(capture.parent_path());
}

}  // namespace
}  // namespace tavrin::test

namespace tavrin::test {
namespace {

TEST_F(CliEndToEnd, FramesArriveAtTheTargetByteForByte) {
  const auto record = dir_ / "received.bin";
  const auto image = WriteImage(9, 2991);
  {
    SimProcess sim({"--record", record.string()});
    const auto run = RunCli({"upload", "--port", sim.Device(), image.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    sim.Stop();
  }
  std::ifstream in(image, std::ios::binary);
  const std::string file{std::istreambuf_iterator<char>(in), {}};
  std::ifstream got(record, std::ios::binary);
  const std::string received{std::istreambuf_iterator<char>(got), {}};
  EXPECT_EQ(received, file.substr(28));
}

TEST_F(CliEndToEnd, CancelWhileWaitingForARegionSavesNothing) {
  SimProcess sim({"--region-delay", "60000"});
  const auto out = dir_ / "out.dbf";
  const auto run = RunCli({"download", "--port", sim.Device(), "--timeout", "1.5", "--output",
                           out.string(), WriteScript(dir_, {{0, 100, 1}}).string()});
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.out, Block(2) + Block(23));
  EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace tavrin::test
