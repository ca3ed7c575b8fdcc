// Starting the operator's parser application on a downloaded file: the command line
// "parser downloaded output", split at blanks into the program and its arguments and
// started directly — never through a shell, so no character in a path can run anything
// else. The parser's exit is not awaited.
#pragma once

#include <string>
#include <string_view>

namespace tavrin::scripts {

inline constexpr std::string_view kParserStartFailed = "ADB to SDB convertion problem";
inline constexpr std::string_view kBlankInPath =
    "%s\nFolder or Filename is having SPACE. Rename it and input";

// A path with a blank cannot take part in the command line: the paths are joined by
// single blanks without quotes.
bool HasBlank(std::string_view path);

// "%s %s %s": parser application, downloaded file, output file.
std::string ParserCommandLine(std::string_view parser, std::string_view downloaded,
                              std::string_view output);

// Starts the program of `commandLine` with the words after it as its arguments, its
// output discarded. True when the program really started (exec succeeded).
bool StartParser(std::string_view commandLine);

}  // namespace tavrin::scripts
