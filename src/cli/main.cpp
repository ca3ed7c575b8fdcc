#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_session.h"

int main(int argc, char** argv) {
  using namespace tavrin::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const auto parsed = ParseCliOptions(args);
  if (const auto* end = std::get_if<CliExit>(&parsed)) {
    std::fputs(end->out.c_str(), stdout);
    std::fputs(end->err.c_str(), stderr);
    return end->status;
  }
  return RunCli(std::get<CliOptions>(parsed));
}
