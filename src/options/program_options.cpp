#include "options/program_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/product_identity.h"

namespace tavrin::options {
namespace {

constexpr std::size_t kHelpColumn = 34;  // where an option's help text begins

// The words after which a user is told where the help is: "tavrin-cli upload --help".
std::string HelpCommand(const CLI::App& app) {
  std::string command;
  for (const CLI::App* at = &app; at; at = at->get_parent()) {
    command = at->get_name() + (command.empty() ? "" : " " + command);
  }
  return command + " --help";
}

// CLI11 lists what was left over ("The following arguments were not expected: ..."); the
// user hears of the first unknown option by its name, or else of the first extra argument.
std::string ExtrasMessage(const CLI::App& app) {
  const auto left = app.remaining();
  for (const auto& arg : left) {
    if (arg.size() > 1 && arg[0] == '-') return "unknown option " + arg.substr(0, arg.find('='));
  }
  if (left.empty()) return "unexpected argument";
  const bool commands = !app.get_subcommands([](const CLI::App*) { return true; }).empty();
  return (commands ? "unknown command '" : "unexpected argument '") + left.front() + "'";
}

std::vector<std::string> CommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (!command->get_group().empty()) names.push_back(command->get_name());
  }
  return names;
}

// CLI11's text, said the way the rest of the program says things where it is terse: a
// missing command names the commands, a missing value names its option.
std::string Message(const CLI::ParseError& error, const CLI::App& reached) {
  if (dynamic_cast<const CLI::ExtrasError*>(&error)) return ExtrasMessage(reached);
  const std::string text = error.what();
  const auto names = CommandNames(reached);
  if (dynamic_cast<const CLI::RequiredError*>(&error) && !names.empty() &&
      reached.get_subcommands().empty()) {
    const auto left = reached.remaining();
    if (!left.empty() && !left.front().starts_with("-")) {
      return "unknown command '" + left.front() + "'";
    }
    std::string list;
    for (const auto& name : names) list += (list.empty() ? "" : ", ") + name;
    return "no command given (" + list + ")";
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) && text.ends_with(" missing")) {
    return text.substr(0, text.find(':')) + " needs a value";
  }
  return text;
}

}  // namespace

std::string ProgramVersion(std::string_view program) {
  const auto& id = core::kProductIdentity;
  return std::string(program) + " " + std::to_string(id.major) + "." + std::to_string(id.minor) +
         "." + std::to_string(id.build) + " " + id.projectId + " " + core::BuildDate();
}

void SetUpProgram(CLI::App& app, std::string_view program) {
  app.name(std::string(program));
  app.set_version_flag("--version", ProgramVersion(program), "Show the program's version and exit");
  app.set_help_flag("-h,--help", "Show this help and exit");
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.get_formatter()->column_width(kHelpColumn);
}

std::optional<ParseEnd> Parse(CLI::App& app, const std::vector<std::string>& args,
                              int usageStatus) {
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
    return std::nullopt;
  } catch (const CLI::CallForHelp&) {
    return ParseEnd{0, app.help(), {}};
  } catch (const CLI::CallForAllHelp&) {
    return ParseEnd{0, app.help("", CLI::AppFormatMode::All), {}};
  } catch (const CLI::CallForVersion& version) {
    return ParseEnd{0, std::string(version.what()) + "\n", {}};
  } catch (const CLI::ParseError& error) {
    const CLI::App& reached = Chosen(app);
    return UsageError(reached, Message(error, reached), usageStatus);
  }
}

ParseEnd UsageError(const CLI::App& command, const std::string& message, int usageStatus) {
  const CLI::App* program = &command;
  while (program->get_parent()) program = program->get_parent();
  return ParseEnd{usageStatus,
                  {},
                  program->get_name() + ": " + message + "\nRun '" + HelpCommand(command) +
                      "' for the options.\n"};
}

const CLI::App& Chosen(const CLI::App& app) {
  const CLI::App* at = &app;
  for (auto chosen = at->get_subcommands(); !chosen.empty(); chosen = at->get_subcommands()) {
    at = chosen.front();
  }
  return *at;
}

std::optional<unsigned> ReadUnsigned(const std::string& text) {
  unsigned value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || ptr != end || text.empty()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> ReadUnsigned64(const std::string& text) {
  std::uint64_t value = 0;
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc{} || ptr != end || text.empty()) return std::nullopt;
  return value;
}

std::optional<double> ReadPositiveSeconds(const std::string& text) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(seconds > 0) || !std::isfinite(seconds)) {
    return std::nullopt;
  }
  return seconds;
}

}  // namespace tavrin::options
