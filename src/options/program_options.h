// The command-line parsing every Tavrin program shares (tavrin-cli, tavrin-target-sim,
// tavrin-sample-files), on CLI11: --help and -h, --version with the product identity,
// `--opt value` and `--opt=value`, `--` ending the options, a repeated option keeping its
// last value (unless it collects them), and usage errors that name the option and the
// value in one line on stderr.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::options {

// "tavrin-cli 1.1.0 TVR-STB-001 Dec 5 2026": the program's name and the product identity.
std::string ProgramVersion(std::string_view program);

// Sets `app` up as every program's: --version, repeated options keeping their last value,
// the help text's layout.
void SetUpProgram(CLI::App& app, std::string_view program);

// How a parse ended when the program is not to run: what to write and the exit status.
struct ParseEnd {
  int status = 0;
  std::string out;  // --help, --version
  std::string err;  // a usage error
};

// Parses `args` (without the program's name) into `app`; nullopt when the program is to
// run. A usage error exits `usageStatus`, its one line followed by where the help is.
std::optional<ParseEnd> Parse(CLI::App& app, const std::vector<std::string>& args, int usageStatus);

// A usage error found after the parse, said as Parse says one: "<program>: <message>", then
// where `command`'s help is.
ParseEnd UsageError(const CLI::App& command, const std::string& message, int usageStatus);

// The deepest subcommand the parse chose (`app` itself when none).
const CLI::App& Chosen(const CLI::App& app);

// An option with one value: `read` (std::optional<U>(const std::string&)) turns its text
// into what `target` takes; a text it cannot read is a usage error that names the option
// and the text: "--baud: 'abc' is not a positive number" (`wanted`: "a positive number").
template <typename T, typename Read>
CLI::Option* AddValue(CLI::App& app, const std::string& name, T& target, Read read,
                      std::string wanted, const std::string& help) {
  auto apply = [&target, read = std::move(read), name,
                wanted = std::move(wanted)](const std::string& text) {
    auto value = read(text);
    if (!value) throw CLI::ValidationError(name, "'" + text + "' is not " + wanted);
    target = std::move(*value);
  };
  return app.add_option_function<std::string>(name, std::move(apply), help);
}

// Readers shared by the programs.
std::optional<unsigned> ReadUnsigned(const std::string& text);
std::optional<std::uint64_t> ReadUnsigned64(const std::string& text);
std::optional<double> ReadPositiveSeconds(const std::string& text);

}  // namespace tavrin::options
