// The command line's words for the port list.
#include "cli/cli_options.h"

#include <gtest/gtest.h>

namespace tavrin::cli {
namespace {

struct OptionsRow {
  const char* name;
  std::vector<std::string> args;
  std::string error;  // empty: parsed
  bool json;
};

class PortsOptions : public testing::TestWithParam<OptionsRow> {};

TEST_P(PortsOptions, Parse) {
  const OptionsRow& row = GetParam();
  const auto parsed = ParseCliOptions(row.args);
  if (!row.error.empty()) {
    ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
    EXPECT_EQ(std::get<std::string>(parsed), row.error);
    return;
  }
  ASSERT_TRUE(std::holds_alternative<CliOptions>(parsed)) << std::get<std::string>(parsed);
  const auto& options = std::get<CliOptions>(parsed);
  EXPECT_EQ(options.json, row.json);
  EXPECT_EQ(options.command, Command::kPorts);
}

INSTANTIATE_TEST_SUITE_P(Args, PortsOptions,
                         testing::Values(OptionsRow{"Table", {"ports"}, "", false},
                                         OptionsRow{"Json", {"ports", "--json"}, "", true},
                                         OptionsRow{"Argument",
                                                    {"ports", "ttyUSB0"},
                                                    "ports takes no option but --json, not ttyUSB0",
                                                    false},
                                         OptionsRow{"LineOption",
                                                    {"ports", "--baud", "9600"},
                                                    "ports takes no option but --json, not --baud",
                                                    false},
                                         OptionsRow{
                                             "JsonElsewhere",
                                             {"upload", "--json", "--port", "ttyS0", "a.urt"},
                                             "--json is for ports only",
                                             false}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace tavrin::cli
