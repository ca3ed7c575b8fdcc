#include "scripts/parser_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <vector>

extern char** environ;

namespace tavrin::scripts {
namespace {

std::vector<std::string> SplitAtBlanks(std::string_view line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    if (end > at) words.emplace_back(line.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

}  // namespace

bool HasBlank(std::string_view path) {
  return path.find(' ') != std::string_view::npos;
}

std::string ParserCommandLine(std::string_view parser, std::string_view downloaded,
                              std::string_view output) {
  std::string line(parser);
  line += ' ';
  line += downloaded;
  line += ' ';
  line += output;
  return line;
}

bool StartParser(std::string_view commandLine) {
  std::vector<std::string> words = SplitAtBlanks(commandLine);
  if (words.empty()) return false;
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  // The parser runs hidden: no terminal input or output of ours.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  // glibc's posix_spawn reports a failed exec as its result, so success means started.
  const int result = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) return false;
  // Nobody waits for the parser's result; a detached reaper keeps it from lingering.
  std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
  return true;
}

}  // namespace tavrin::scripts
