#include "cli/cli_session.h"

#include "cli/cli_commands.h"
#include "options/program_options.h"

namespace tavrin::cli {

int RunCli(const CliOptions& options) {
  return RunCli(options, CliLink{});
}

int RunCli(const CliOptions& options, const CliLink& link) {
  for (const CommandRow& row : Commands()) {
    if (row.command == options.command) return row.run(options, link);
  }
  return exit_status::kUsage;
}

std::string VersionText() {
  return options::ProgramVersion("tavrin-cli");
}

}  // namespace tavrin::cli
