// tavrin-cli on several simulated targets at once, each target a process on a
// pseudo-terminal of its own; the --json events checked line by line against their schema.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "e2e_files.h"
#include "processes.h"
#include "transfer/report_texts.h"

namespace tavrin::test {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

std::string Block(int code) {
  return transfer::ReportBlockFor(code)->text;
}

// The name a port's files get: the device without "/dev/", '/' as '_'.
std::string FileName(std::string device) {
  if (device.starts_with("/dev/")) device.erase(0, 5);
  std::replace(device.begin(), device.end(), '/', '_');
  return device;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct Targets {
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<std::string> Ports() const {
    std::vector<std::string> args;
    for (const auto& sim : sims) args.insert(args.end(), {"--port", sim->Device()});
    return args;
  }
};

Targets StartTargets(const std::vector<std::vector<std::string>>& args) {
  Targets targets;
  for (const auto& a : args) {
    targets.sims.push_back(std::make_unique<SimProcess>(a));
    EXPECT_FALSE(targets.sims.back()->Device().empty());
  }
  return targets;
}

// `head`, the --port options of `targets`, then `last`.
std::vector<std::string> Command(std::vector<std::string> head, const Targets& targets,
                                 const std::string& last) {
  const auto ports = targets.Ports();
  head.insert(head.end(), ports.begin(), ports.end());
  head.push_back(last);
  return head;
}

// Each field an event must have, with its JSON type; "int?" and "string?" may be null.
const std::map<std::string, std::map<std::string, std::string>> kSchema = {
    {"start",
     {{"port", "string"},
      {"device", "string"},
      {"command", "string"},
      {"argument", "string"},
      {"line", "string"}}},
    {"progress",
     {{"port", "string"},
      {"phase", "string"},
      {"frames_sent", "unsigned"},
      {"frames_total", "unsigned"},
      {"region", "unsigned"},
      {"region_bytes", "unsigned"},
      {"bytes", "unsigned"},
      {"seconds", "number"},
      {"bytes_per_second", "number"}}},
    {"report", {{"port", "string"}, {"code", "int"}, {"text", "string"}}},
    {"crc_warning", {{"port", "string"}, {"region", "unsigned"}, {"text", "string"}}},
    {"end",
     {{"port", "string"},
      {"device", "string"},
      {"status", "unsigned"},
      {"result", "string"},
      {"code", "int?"},
      {"seconds", "number"},
      {"bytes", "unsigned"},
      {"bytes_per_second", "number"},
      {"line_efficiency", "number"},
      {"capture", "string?"},
      {"output", "string?"},
      {"regions_fetched_again", "array"},
      {"regions_still_failing", "array"},
      {"refused", "int?"},
      {"payload", "string?"}}},
    {"summary",
     {{"status", "unsigned"},
      {"seconds", "number"},
      {"ports", "unsigned"},
      {"succeeded", "unsigned"},
      {"failed", "array"}}},
};

bool HasType(const Json& value, const std::string& type) {
  if (type.ends_with('?') && value.is_null()) return true;
  const std::string base = type.ends_with('?') ? type.substr(0, type.size() - 1) : type;
  if (base == "string") return value.is_string();
  if (base == "unsigned") return value.is_number_unsigned();
  if (base == "int") return value.is_number_integer();
  if (base == "number") return value.is_number();
  if (base == "array") return value.is_array();
  return false;
}

// Every line of `out` parsed and checked against the schema; the events in order.
std::vector<Json> ParseEvents(const std::string& out) {
  std::vector<Json> events;
  for (const auto& line : Lines(out)) {
    const Json event = Json::parse(line, nullptr, false);
    EXPECT_FALSE(event.is_discarded()) << line;
    if (event.is_discarded()) continue;
    const auto schema = kSchema.find(event.value("event", ""));
    EXPECT_NE(schema, kSchema.end()) << line;
    if (schema == kSchema.end()) continue;
    EXPECT_EQ(event.size(), schema->second.size() + 1) << line;  // and nothing else
    for (const auto& [field, type] : schema->second) {
      EXPECT_TRUE(event.contains(field) && HasType(event[field], type))
          << field << " is not " << type << ": " << line;
    }
    events.push_back(event);
  }
  return events;
}

std::map<std::string, Json> EndsByPort(const std::vector<Json>& events) {
  std::map<std::string, Json> ends;
  for (const auto& event : events) {
    if (event["event"] == "end") ends[event["port"]] = event;
  }
  return ends;
}

class CliSeveralTargets : public testing::Test {
 protected:
  ScratchDir scratch_;
  std::filesystem::path Dir() const { return scratch_.Path(); }
};

TEST_F(CliSeveralTargets, OneRefusesTheOthersSucceedEachCaptureItsOwn) {
  const auto targets = StartTargets({{}, {"--scenario", "refuse-eot"}, {}});
  const auto logs = Dir() / "logs";
  const auto run = RunCli(Command({"upload", "--log-dir", logs.string()}, targets,
                                  WriteUrt(Dir() / "image.urt", {2000, 2000, 2000}).string()));
  EXPECT_EQ(run.status, 4) << run.err;
  const std::string refusing = targets.sims[1]->Device();
  const auto lines = Lines(run.out);
  for (const auto& sim : targets.sims) {
    const std::string port = sim->Device();
    const bool refuses = port == refusing;
    // The summary names each port with its status and result.
    const auto row = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.starts_with(port + " ") &&
             line.find("  " + std::to_string(refuses ? 4 : 0) + "  ") != std::string::npos;
    });
    ASSERT_NE(row, lines.end()) << run.out;
    EXPECT_NE(row->find(refuses ? "Error ( 4 ): You are trying to download same version"
                                : "Upload Success"),
              std::string::npos)
        << *row;
    // Its capture holds its own target's text alone.
    const std::string capture = ReadText(logs / (FileName(port) + ".log"));
    EXPECT_EQ(capture.find(Block(4)) != std::string::npos, refuses) << port;
    EXPECT_EQ(capture.find(Block(1)) != std::string::npos, !refuses) << port;
  }
  // stdout: every capture line tagged with its port, then the summary.
  ASSERT_FALSE(lines.empty());
  for (const auto& line : lines) {
    if (line.starts_with("PORT ")) break;
    EXPECT_TRUE(std::any_of(targets.sims.begin(), targets.sims.end(), [&](const auto& sim) {
      return line.starts_with(sim->Device() + ": ");
    })) << line;
  }
  EXPECT_NE(run.out.find(refusing + ": <========== Error ( 4 ) ==========>\n"), std::string::npos);
}

// --json: a download fetches its region with the wrong CRC again and succeeds; the other
// target refuses. Every line is one event of the schema, each port's start comes first and
// its end last, and the summary closes the stream with the exit status.
TEST_F(CliSeveralTargets, JsonEventsFollowTheSchema) {
  const std::vector<Region> regions{{0, 20000, 1}, {0x8000, 0x8000 + 3000, 2}};
  const auto targets = StartTargets(
      {{"--seed", "4", "--fault", "wrong-crc", "--baud", "115200"}, {"--scenario", "refuse-eot"}});
  const auto run = RunCli(
      Command({"download", "--json", "--retries", "2", "--output", (Dir() / "{port}.dbf").string()},
              targets, WriteScript(Dir(), regions).string()),
      60s);
  EXPECT_EQ(run.status, 4) << run.err;
  const auto events = ParseEvents(run.out);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back()["event"], "summary");
  EXPECT_EQ(events.back()["status"], 4);
  EXPECT_EQ(events.back()["failed"], Json::array({targets.sims[1]->Device()}));
  std::map<std::string, std::size_t> seen;  // events of each port so far
  std::map<std::string, std::vector<double>> progressAt;
  for (const auto& event : events) {
    if (event["event"] == "summary") continue;
    const std::string port = event["port"];
    EXPECT_EQ(seen[port]++ == 0, event["event"] == "start") << event;
    if (event["event"] == "report") {
      EXPECT_EQ(event["text"], Block(event["code"])) << event;
    }
    if (event["event"] == "progress") progressAt[port].push_back(event["seconds"]);
  }
  const auto ends = EndsByPort(events);
  const Json& good = ends.at(targets.sims[0]->Device());
  EXPECT_EQ(good["status"], 0);
  EXPECT_EQ(good["regions_fetched_again"], Json::array({1}));
  EXPECT_EQ(good["regions_still_failing"], Json::array());
  EXPECT_EQ(good["output"], (Dir() / (FileName(targets.sims[0]->Device()) + ".dbf")).string());
  EXPECT_EQ(ReadAll(good["output"].get<std::string>()), ExpectedDbf(regions, 4));
  EXPECT_GT(good["line_efficiency"].get<double>(), 0.5);
  const Json& refused = ends.at(targets.sims[1]->Device());
  EXPECT_EQ(refused["status"], 4);
  EXPECT_EQ(refused["code"], 4);
  // Progress at most ten times a second: never two within 0.1 s (its own clock, 1 ms slack).
  const auto& at = progressAt[targets.sims[0]->Device()];
  EXPECT_GE(at.size(), 5u);
  for (std::size_t i = 1; i < at.size(); ++i) EXPECT_GE(at[i] - at[i - 1], 0.099);
  EXPECT_NE(run.err.find("PORT "), std::string::npos);  // the table goes to stderr
}

TEST_F(CliSeveralTargets, CtrlCCancelsEveryPortWith23) {
  const auto targets = StartTargets({{"--scenario", "silent"}, {"--scenario", "silent"}});
  const auto run =
      RunCli(Command({"upload", "--json"}, targets, WriteUrt(Dir() / "image.urt", {100}).string()),
             20s, 500ms);
  EXPECT_EQ(run.status, 4) << run.err;
  const auto ends = EndsByPort(ParseEvents(run.out));
  ASSERT_EQ(ends.size(), 2u);
  for (const auto& [port, end] : ends) {
    EXPECT_EQ(end["status"], 4) << port;
    EXPECT_EQ(end["code"], 23) << port;
  }
}

TEST_F(CliSeveralTargets, OutputMustNameEachPort) {
  const auto run = RunCli({"download", "--port", "a", "--port", "b", "--output", "x.dbf", "s.dsf"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("{port}"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace tavrin::test
