#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_session.h"

int main(int argc, char** argv) {
  using namespace tavrin::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const auto parsed = ParseCliOptions(args);
  if (const auto* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "tavrin-cli: %s\n%s", error->c_str(), UsageText().c_str());
    return exit_status::kUsage;
  }
  const auto& options = std::get<CliOptions>(parsed);
  if (options.command == Command::kHelp) {
    std::fputs(UsageText().c_str(), stdout);
    return exit_status::kSuccess;
  }
  if (options.command == Command::kVersion) {
    std::printf("%s\n", VersionText().c_str());
    return exit_status::kSuccess;
  }
  return RunCli(options);
}
