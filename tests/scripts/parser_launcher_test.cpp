#include "scripts/parser_launcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_files.h"

namespace tavrin::scripts {
namespace {

TEST(ParserLauncher, StartsOnlyTheNamedProgramWithItsArgumentsAndNoShell) {
  EXPECT_EQ(ParserCommandLine("/opt/p", "/d/a.dbf", "/d/a.bin"), "/opt/p /d/a.dbf /d/a.bin");
  EXPECT_TRUE(HasBlank("/my dir/p"));
  EXPECT_FALSE(HasBlank("/mydir/p"));

  test::TempDir dir;
  const auto script = dir / "parser.sh";
  const auto fifo = dir / "args";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|' \"$@\" > " << fifo.string() << "\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);

  // Shell metacharacters in a path are just characters of an argument.
  const auto planted = dir / "planted";
  const std::string hostile =
      "x;touch${IFS}" + planted.string() + "&&$(touch${IFS}" + planted.string() + ")";
  ASSERT_TRUE(StartParser(ParserCommandLine(script.string(), hostile, "out.bin")));
  EXPECT_EQ(test::ReadUntilClosed(reader), hostile + "|out.bin|");
  ::close(reader);
  EXPECT_FALSE(std::filesystem::exists(planted));
}

TEST(ParserLauncher, APathThatNamesNoProgramIsNotStarted) {
  EXPECT_FALSE(StartParser("/nonexistent/parser a.dbf a.bin"));
  EXPECT_FALSE(StartParser("/etc a.dbf a.bin"));
  EXPECT_FALSE(StartParser("echo;ls a.dbf a.bin"));  // no shell: no such program
  EXPECT_FALSE(StartParser(""));
}

}  // namespace
}  // namespace tavrin::scripts
