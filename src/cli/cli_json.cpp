#include "cli/cli_json.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "transfer/report_texts.h"

namespace tavrin::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& event) {
  return event.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json OrNull(const std::optional<std::string>& text) {
  return text ? Json(*text) : Json(nullptr);
}

Json OrNull(const std::optional<int>& value) {
  return value ? Json(*value) : Json(nullptr);
}

std::string_view PhaseName(Progress::Phase phase) {
  switch (phase) {
    case Progress::Phase::kWaiting:
      return "waiting";
    case Progress::Phase::kFrames:
      return "frames";
    case Progress::Phase::kRegion:
      return "region";
    case Progress::Phase::kEnded:
      return "ended";
  }
  return "waiting";
}

}  // namespace

void JsonEvents::Start(const PortStart& start) {
  Json event;
  event["event"] = "start";
  event["port"] = start.port;
  event["device"] = start.device;
  event["command"] = start.command;
  event["argument"] = start.argument;
  event["line"] = start.line;
  Emit(Dump(event));
}

void JsonEvents::ProgressOf(const std::string& port, const Progress& progress) {
  Json event;
  event["event"] = "progress";
  event["port"] = port;
  event["phase"] = PhaseName(progress.phase);
  event["frames_sent"] = progress.framesSent;
  event["frames_total"] = progress.framesTotal;
  event["region"] = progress.region;
  event["region_bytes"] = progress.regionBytes;
  event["bytes"] = progress.bytes;
  event["seconds"] = progress.seconds;
  event["bytes_per_second"] = progress.BytesPerSecond();
  Emit(Dump(event));
}

void JsonEvents::Report(const std::string& port, int code) {
  const auto block = transfer::ReportBlockFor(code);
  if (!block) return;
  Json event;
  event["event"] = "report";
  event["port"] = port;
  event["code"] = code;
  event["text"] = block->text;
  Emit(Dump(event));
}

void JsonEvents::CrcWarning(const std::string& port, int region) {
  Json event;
  event["event"] = "crc_warning";
  event["port"] = port;
  event["region"] = region;
  event["text"] = transfer::CrcWarningBlock(region).text;
  Emit(Dump(event));
}

void JsonEvents::End(const PortOutcome& outcome) {
  Json event;
  event["event"] = "end";
  event["port"] = outcome.port;
  event["device"] = outcome.device;
  event["status"] = outcome.status;
  event["result"] = outcome.result;
  event["code"] = OrNull(outcome.code);
  event["seconds"] = outcome.seconds;
  event["bytes"] = outcome.bytes;
  event["bytes_per_second"] = outcome.BytesPerSecond();
  event["line_efficiency"] = outcome.LineEfficiency();
  event["capture"] = OrNull(outcome.capture);
  event["output"] = OrNull(outcome.output);
  event["regions_fetched_again"] = outcome.regionsFetchedAgain;
  event["regions_still_failing"] = outcome.regionsStillFailing;
  event["refused"] = OrNull(outcome.refusal);
  event["payload"] = OrNull(outcome.payload);
  Emit(Dump(event));
}

void JsonEvents::Summary(int status, double seconds, std::span<const PortOutcome> outcomes) {
  Json event;
  event["event"] = "summary";
  event["status"] = status;
  event["seconds"] = seconds;
  event["ports"] = outcomes.size();
  event["succeeded"] = std::ranges::count_if(outcomes, [](const auto& o) { return o.status == 0; });
  Json failed = Json::array();
  for (const auto& outcome : outcomes) {
    if (outcome.status != 0) failed.push_back(outcome.port);
  }
  event["failed"] = failed;
  Emit(Dump(event));
}

void JsonEvents::Emit(const std::string& line) {
  if (console_) {
    console_->Out(line);
    return;
  }
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

}  // namespace tavrin::cli
