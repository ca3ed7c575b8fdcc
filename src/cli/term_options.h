// The options of tavrin-cli term of its own (the port, LINE, --log and --log-dir are the
// shared ones of CliOptions).
#pragma once

namespace tavrin::cli {

inline constexpr double kDefaultLingerSeconds = 1.0;

struct TermOptions {
  bool timestamps = false;                       // the local time before each line on the screen
  bool hex = false;                              // a hex dump with the text beside it
  double lingerSeconds = kDefaultLingerSeconds;  // stdin not a terminal: after its end
};

}  // namespace tavrin::cli
