// tavrin-cli against tavrin-target-sim, each a process of its own, over a pseudo-terminal.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "processes.h"
#include "scripts/script_store.h"
#include "sim/memory_image.h"
#include "transfer/packet_frame.h"
#include "transfer/report_texts.h"

namespace tavrin::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

std::string Block(int code) {
  return transfer::ReportBlockFor(code)->text;
}

class CliEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-e2e.XXXXXX").string();
    ASSERT_TRUE(::mkdtemp(pattern.data()));
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // A URT image for the simulated target's default identity.
  std::filesystem::path WriteImage(std::size_t frames, std::size_t payload = 2000) {
    Bytes file(28, 0);
    file[0] = 'B';
    file[1] = 'U';
    const Bytes id1{0x11, 0x22, 0x33, 0x44}, id2{0x55, 0x66, 0x77}, id3{0x88, 0x99, 0xAA, 0xBB};
    std::copy(id1.begin(), id1.end(), file.begin() + 12);
    std::copy(id2.begin(), id2.end(), file.begin() + 16);
    std::copy(id3.begin(), id3.end(), file.begin() + 20);
    file[24] = static_cast<std::uint8_t>(frames);
    for (std::size_t f = 0; f < frames; ++f) {
      Bytes data(payload);
      for (std::size_t i = 0; i < payload; ++i) data[i] = static_cast<std::uint8_t>(i * 31 + f);
      const Bytes frame = transfer::BuildFrame(data);
      file.insert(file.end(), frame.begin(), frame.end());
    }
    const auto path = dir_ / "image.urt";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    return path;
  }

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

struct Region {
  std::uint32_t start;
  std::uint32_t end;
  std::uint8_t partitionId;
};

std::filesystem::path WriteScript(const std::filesystem::path& dir,
                                  const std::vector<Region>& regions) {
  scripts::ScriptStore store(dir);
  for (const auto& region : regions) {
    scripts::ScriptRecord record;
    record.command = {region.start, region.end, 1, 0, 0, 0};
    record.header.partitionId = region.partitionId;
    record.header.partitionType = 1;
    record.header.size = region.end - region.start;
    EXPECT_TRUE(store.AppendRecord(record));
  }
  const auto path = dir / "script.dsf";
  EXPECT_TRUE(store.SaveDsf(path));
  return path;
}

Bytes ExpectedDbf(const std::vector<Region>& regions, std::uint64_t seed) {
  const sim::MemoryImage memory(seed);
  Bytes dbf;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const auto size = regions[i].end - regions[i].start;
    if (i == 0 || regions[i].partitionId != 0) {
      const auto end = static_cast<std::uint32_t>(dbf.size() + 16 + size);
      Bytes header{regions[i].partitionId, 1, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF};
      for (int b = 0; b < 4; ++b) header.push_back(static_cast<std::uint8_t>(end >> (8 * b)));
      dbf.insert(dbf.end(), header.begin(), header.end());
    }
    const Bytes data = memory.Read(1, regions[i].start, size);
    dbf.insert(dbf.end(), data.begin(), data.end());
  }
  return dbf;
}

Bytes ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
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

TEST_F(CliEndToEnd, WrongCrcWarnsAndExits5) {
  const std::vector<Region> regions{{0, 800, 1}};
  SimProcess sim({"--fault", "wrong-crc"});
  const auto out = dir_ / "out.dbf";
  const auto run = RunCli({"download", "--port", sim.Device(), "--output", out.string(),
                           WriteScript(dir_, regions).string()});
  EXPECT_EQ(run.status, 5) << run.err;
  EXPECT_NE(run.out.find(transfer::CrcWarningBlock(1).text), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(out));
}

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
