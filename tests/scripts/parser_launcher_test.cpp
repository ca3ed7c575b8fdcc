#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "scripts/parser_launcher.h"

namespace tavrin::scripts {
namespace {

TEST(ParserLauncher, CommandLineJoinsThePathsWithBlanks) {
  EXPECT_EQ(ParserCommandLine("/opt/p", "/d/a.dbf", "/d/a.bin"), "/opt/p /d/a.dbf /d/a.bin");
  EXPECT_TRUE(HasBlank("/my dir/p"));
  EXPECT_FALSE(HasBlank("/mydir/p"));
}

TEST(ParserLauncher, StartsOnlyTheNamedProgramWithItsArguments) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("tavrin-parser-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto script = dir / "parser.sh";
  const auto marker = dir / "args";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|' \"$@\" > " << marker.string() << ".tmp\nmv "
                        << marker.string() << ".tmp " << marker.string() << "\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);

  // Shell metacharacters in a path are just characters of an argument.
  const auto planted = dir / "planted";
  const std::string hostile =
      "x;touch${IFS}" + planted.string() + "&&$(touch${IFS}" + planted.string() + ")";
  ASSERT_TRUE(StartParser(ParserCommandLine(script.string(), hostile, "out.bin")));
  for (int i = 0; i < 200 && !std::filesystem::exists(marker); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ifstream in(marker);
  std::string args((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(args, hostile + "|out.bin|");
  EXPECT_FALSE(std::filesystem::exists(planted));
  std::filesystem::remove_all(dir);
}

TEST(ParserLauncher, APathThatNamesNoProgramIsNotStarted) {
  EXPECT_FALSE(StartParser("/nonexistent/parser a.dbf a.bin"));
  EXPECT_FALSE(StartParser("/etc a.dbf a.bin"));
  EXPECT_FALSE(StartParser("echo;ls a.dbf a.bin"));  // no shell: no such program
  EXPECT_FALSE(StartParser(""));
}

}  // namespace
}  // namespace tavrin::scripts
