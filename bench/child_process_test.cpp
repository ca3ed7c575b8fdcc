// The measurements rest on these: the exit status and the CPU time really are the
// child's, its output is kept, a hung child is ended at the limit, and the simulated
// target's device path is its first line.
#include "bench/child_process.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

namespace tavrin::bench {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kGenerous{20'000};  // never reached by a child that behaves

class ChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "child-process.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::string Read(const std::filesystem::path& path) const {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // A shell script standing in for a program; it ignores the arguments it is given.
  std::string Script(const std::string& body) const {
    const auto path = dir_ / "program.sh";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path.string();
  }

  std::filesystem::path dir_;
};

TEST_F(ChildProcessTest, ExitStatusAndBothOutputsAreTheChilds) {
  const auto log = dir_ / "out.log";
  const auto run =
      RunToEnd("/bin/sh", {"-c", "echo to-out; echo to-err >&2; exit 3"}, log, kGenerous);
  EXPECT_TRUE(run.started);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_EQ(Read(log), "to-out\nto-err\n");
}

TEST_F(ChildProcessTest, CpuTimeIsCountedForABusyChild) {
  const auto run = RunToEnd("/bin/sh", {"-c", "i=0; while [ $i -lt 300000 ]; do i=$((i+1)); done"},
                            dir_ / "log", kGenerous);
  ASSERT_EQ(run.exitStatus, 0);
  EXPECT_GT(run.cpuSeconds, 0.0);
  EXPECT_GT(run.elapsedSeconds, 0.0);
}

TEST_F(ChildProcessTest, HungChildIsKilledAtTheLimit) {
  const auto run = RunToEnd("/bin/sh", {"-c", "exec sleep 60"}, dir_ / "log", milliseconds{200});
  EXPECT_TRUE(run.timedOut);
  EXPECT_EQ(run.exitStatus, -1);
  EXPECT_LT(run.elapsedSeconds, 30.0);
}

TEST_F(ChildProcessTest, ProgramThatCannotStartIsReported) {
  const auto run = RunToEnd((dir_ / "missing").string(), {}, dir_ / "log", kGenerous);
  EXPECT_FALSE(run.started);
}

TEST_F(ChildProcessTest, SimTargetServesThePathOnItsFirstLineUntilStopped) {
  // The problem line comes first: the path line is what the test waits for.
  SimTarget sim(Script("echo problem >&2; echo /dev/pts/77; exec sleep 60"), {}, dir_ / "sim.log");
  EXPECT_EQ(sim.Device(), "/dev/pts/77");
  sim.Stop();  // SIGTERM ends the sleep: Stop returns without waiting out its limit
  EXPECT_EQ(Read(dir_ / "sim.log"), "problem\n");
}

TEST_F(ChildProcessTest, SimTargetWithoutAPathHasNoDevice) {
  SimTarget sim(Script("exit 0"), {}, dir_ / "sim.log");
  EXPECT_EQ(sim.Device(), "");
}

}  // namespace
}  // namespace tavrin::bench
