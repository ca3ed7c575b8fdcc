// The production station against simulated boxes, each a separate process on a
// pseudo-terminal of its own behind a stable link, as an operator's line runs it.
#include <gtest/gtest.h>
#include <signal.h>

#include <set>

#include "e2e_files.h"
#include "processes.h"
#include "station_processes.h"

namespace tavrin::test {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr auto kEventLimit = 30s;  // the longest any awaited event may take
constexpr std::size_t kFrames = 40;

class StationEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    // 40 frames of 2000 bytes: a moment on an unpaced line, about 80 s at 9600 baud.
    image_ = WriteUrt(dir_ / "image.urt", std::vector<std::size_t>(kFrames, 2000));
  }

  std::vector<std::string> StationArgs(const std::vector<std::string>& ports, unsigned units) {
    std::vector<std::string> args;
    for (const auto& port : ports) {
      args.push_back("--port");
      args.push_back(port);
    }
    return Concat(
        args, {"--units", std::to_string(units), "--journal", Journal().string(), image_.string()});
  }
  static std::vector<std::string> Concat(std::vector<std::string> a,
                                         const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
  std::filesystem::path Journal() const { return dir_ / "journal.db"; }
  std::filesystem::path Errors() const { return dir_ / "stderr"; }

  // The journal as tavrin-cli journal --json gives it.
  std::vector<Json> Rows() {
    const CliRun run = RunCli({"journal", Journal().string(), "--json"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<Json> rows;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) rows.push_back(Json::parse(line));
    return rows;
  }

  static std::function<bool(const Json&)> UnitEnded(const std::string& port, unsigned unit) {
    return [port, unit](const Json& e) {
      return e["event"] == "unit" && e["port"] == port && e["unit"] == unit;
    };
  }
  static std::function<bool(const Json&)> FramesSent(const std::string& port, unsigned unit,
                                                     unsigned frames) {
    return [=](const Json& e) {
      return e["event"] == "progress" && e["port"] == port && e["unit"] == unit &&
             e["frames"].get<unsigned>() >= frames;
    };
  }

  TempDir dir_;
  std::filesystem::path image_;
};

std::size_t Count(const std::vector<Json>& events, const std::string& name) {
  return static_cast<std::size_t>(std::count_if(
      events.begin(), events.end(), [&name](const Json& e) { return e["event"] == name; }));
}

// Loaded, already loaded (and staying), pulled in the middle, loaded: four units, one row
// each, in that order, and no box loaded twice.
TEST_F(StationEndToEnd, BoxesOneAfterAnotherOnOneLinkAreEachJournalledOnce) {
  const std::string link = (dir_ / "adapter").string();
  Station station(StationArgs({link}, 4), Errors());
  std::set<std::string> devices;
  {
    // Stays 4 s after it was first spoken to: well past the gap once it is loaded.
    Box box(link, {"--leave-after", "4000", "--record", (dir_ / "box1.frames").string()}, Errors());
    ASSERT_TRUE(box.Ready());
    devices.insert(box.Device());
    const auto unit = station.WaitFor(UnitEnded(link, 1), kEventLimit);
    ASSERT_TRUE(unit) << ReadFile(Errors());
    EXPECT_EQ((*unit)["outcome"], "loaded");
    ASSERT_TRUE(box.WaitGone(kEventLimit));
  }
  {
    // Answers every attention byte with 0x04 for 4 s.
    Box box(link, {"--scenario", "refuse-eot", "--leave-after", "4000"}, Errors());
    ASSERT_TRUE(box.Ready());
    const auto unit = station.WaitFor(UnitEnded(link, 2), kEventLimit);
    ASSERT_TRUE(unit) << ReadFile(Errors());
    EXPECT_EQ((*unit)["outcome"], "already-loaded");
    ASSERT_TRUE(box.WaitGone(kEventLimit));
  }
  {
    Box box(link, {"--baud", "9600"}, Errors());
    ASSERT_TRUE(box.Ready());
    ASSERT_TRUE(station.WaitFor(FramesSent(link, 3, 2), kEventLimit)) << ReadFile(Errors());
    box.Pull();
    const auto unit = station.WaitFor(UnitEnded(link, 3), kEventLimit);
    ASSERT_TRUE(unit) << ReadFile(Errors());
    EXPECT_EQ((*unit)["outcome"], "failed");
    EXPECT_EQ((*unit)["status"], 6);
  }
  Box last(link, {}, Errors());
  ASSERT_TRUE(last.Ready());
  EXPECT_EQ(station.Finish(kEventLimit), 0) << ReadFile(Errors());

  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 4u);
  const std::vector<std::string> outcomes{"loaded", "already-loaded", "failed", "loaded"};
  const std::vector<int> statuses{0, 4, 6, 0};
  std::set<std::string> ids;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].dump());
    EXPECT_EQ(rows[i]["outcome"], outcomes[i]);
    EXPECT_EQ(rows[i]["status"], statuses[i]);
    EXPECT_EQ(rows[i]["port"], link);
    EXPECT_TRUE(rows[i]["device"].get<std::string>().starts_with("/dev/pts/"));
    EXPECT_EQ(rows[i]["image_sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(rows[i]["image_sha256"], rows[0]["image_sha256"]);
    EXPECT_EQ(rows[i]["started_at"].get<std::string>().size(), 24u);  // ...T..:..:..sssZ
    EXPECT_LE(rows[i]["started_at"].get<std::string>(), rows[i]["ended_at"].get<std::string>());
    ids.insert(rows[i]["unit_id"].get<std::string>());
  }
  EXPECT_EQ(ids.size(), 4u);
  EXPECT_EQ(rows[0]["result_code"], 1);
  EXPECT_EQ(rows[1]["result_code"], 4);
  // Nobody loaded twice: four boxes began four units, and the first box, which stayed
  // after its upload, took its frames once.
  EXPECT_EQ(Count(station.Events(), "unit_start"), 4u);
  const auto frames = ReadFile(dir_ / "box1.frames");
  EXPECT_EQ(frames.size(), std::filesystem::file_size(image_) - 28);
  const auto summary = station.Events().back();
  EXPECT_EQ(summary["event"], "summary");
  EXPECT_EQ(summary["loaded"], 2);
  EXPECT_EQ(summary["already_loaded"], 1);
  EXPECT_EQ(summary["failed"], 1);
}

TEST_F(StationEndToEnd, TwoPortsAtOnceWriteOneJournal) {
  const std::string first = (dir_ / "adapter-a").string();
  const std::string second = (dir_ / "adapter-b").string();
  Station station(StationArgs({first, second}, 2), Errors());
  Box a(first, {}, Errors());
  Box b(second, {"--baud", "115200"}, Errors());
  ASSERT_TRUE(a.Ready() && b.Ready());
  EXPECT_EQ(station.Finish(kEventLimit), 0) << ReadFile(Errors());
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  std::set<std::string> ports{rows[0]["port"], rows[1]["port"]};
  EXPECT_EQ(ports, (std::set<std::string>{first, second}));
  for (const auto& row : rows) EXPECT_EQ(row["outcome"], "loaded") << row.dump();
}

// A station killed in the middle of a unit: the journal opens, and every earlier unit is
// in it, whole.
TEST_F(StationEndToEnd, KilledMidUnitLeavesEveryEarlierUnitReadable) {
  const std::string link = (dir_ / "adapter").string();
  Station station(StationArgs({link}, 10), Errors());
  {
    Box box(link, {"--leave-after", "3000"}, Errors());
    ASSERT_TRUE(station.WaitFor(UnitEnded(link, 1), kEventLimit)) << ReadFile(Errors());
    ASSERT_TRUE(box.WaitGone(kEventLimit));
  }
  Box slow(link, {"--baud", "9600"}, Errors());
  ASSERT_TRUE(station.WaitFor(FramesSent(link, 2, 2), kEventLimit)) << ReadFile(Errors());
  station.Process().Signal(SIGKILL);
  station.Finish(kEventLimit);

  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["outcome"], "loaded");
  const CliRun csv = RunCli({"journal", Journal().string(), "--csv"});
  EXPECT_EQ(csv.status, 0);
  EXPECT_TRUE(csv.out.starts_with("unit_id,station,port,device,adapter_serial,image_path,"));
}

// --confirm hears the box refuse its last frame after "Upload Success": the unit failed,
// what was heard in the row, and the unit's capture kept with --log-dir.
TEST_F(StationEndToEnd, ARefusalHeardByConfirmFailsTheUnitAndItsCaptureIsKept) {
  const std::string link = (dir_ / "adapter").string();
  const auto image = WriteUrt(dir_ / "two.urt", {100, 100});
  Station station({"--port", link, "--units", "1", "--confirm", "2", "--log-dir",
                   (dir_ / "captures").string(), "--journal", Journal().string(), image.string()},
                  Errors());
  Box box(link, {"--scenario", "refuse-eot-after-frames"}, Errors());
  ASSERT_TRUE(box.Ready());
  EXPECT_EQ(station.Finish(kEventLimit), 0) << ReadFile(Errors());
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["outcome"], "failed");
  EXPECT_EQ(rows[0]["status"], 4);
  EXPECT_TRUE(rows[0]["confirm"].get<std::string>().starts_with("0x04")) << rows[0].dump();
  ASSERT_TRUE(rows[0]["capture"].is_string()) << rows[0].dump();
  EXPECT_NE(ReadFile(rows[0]["capture"].get<std::string>()).find("Upload Success"),
            std::string::npos);
}

// A plant database that cannot be reached holds nothing up, and its password shows nowhere.
TEST_F(StationEndToEnd, AnUnreachablePlantDatabaseNeitherStopsUnitsNorShowsItsPassword) {
  const std::string secret = "Pl4nt-S3cret";
  const std::string link = (dir_ / "adapter").string();
  Station station(
      {"--port", link, "--units", "1", "--journal", Journal().string(), "--journal-to",
       "postgresql://station:" + secret + "@/plant?host=" + (dir_ / "no-server").string(),
       image_.string()},
      Errors());
  Box box(link, {}, Errors());
  ASSERT_TRUE(box.Ready());
  EXPECT_EQ(station.Finish(kEventLimit), 0) << ReadFile(Errors());
  EXPECT_EQ(Rows().size(), 1u);
  std::string everything = ReadFile(Errors());
  bool noted = false;
  for (const auto& event : station.Events()) {
    everything += event.dump();
    noted = noted || (event["event"] == "note" && event["text"].get<std::string>().find(
                                                      "cannot be reached") != std::string::npos);
  }
  EXPECT_TRUE(noted) << everything;
  EXPECT_EQ(everything.find(secret), std::string::npos) << everything;
}

TEST_F(StationEndToEnd, CtrlCWhileWaitingEndsWith130AndNothingRecorded) {
  const std::string link = (dir_ / "adapter").string();
  Station station(StationArgs({link}, 1), Errors());
  ASSERT_TRUE(station.WaitFor([](const Json& e) { return e["event"] == "note"; }, kEventLimit));
  station.Process().Signal(SIGINT);
  EXPECT_EQ(station.Finish(kEventLimit), 130);
  EXPECT_TRUE(Rows().empty());
}

}  // namespace
}  // namespace tavrin::test
