// Low-latency mode at open and close, against a driver played in memory (a pseudo-
// terminal has no such mode) and against the kernel's refusal on a pseudo-terminal.
#include "serial/low_latency.h"

#include <gtest/gtest.h>
#include <linux/serial.h>

#include "serial/posix_serial_device.h"
#include "serial_fakes.h"

namespace tavrin::serial {
namespace {

using namespace std::chrono_literals;

// Driver flags as serial_struct holds them (an int).
constexpr int kLowLatency = static_cast<int>(ASYNC_LOW_LATENCY);
constexpr int kSkipTest = static_cast<int>(ASYNC_SKIP_TEST);

// A driver's serial flags, with refusals on cue.
struct FakeDriver {
  int flags = 0;
  int getError = 0;
  int setError = 0;
  int sets = 0;  // accepted TIOCSSERIAL calls
};

SerialInfoCalls CallsOf(const std::shared_ptr<FakeDriver>& driver) {
  return {[driver](int, serial_struct& info) {
            info.flags = driver->flags;
            return driver->getError;
          },
          [driver](int, const serial_struct& info) {
            if (driver->setError != 0) return driver->setError;
            driver->flags = info.flags;
            ++driver->sets;
            return 0;
          }};
}

TEST(EnterLowLatency, SetsTheModeOrLeavesTheDriverAsItWas) {
  const struct {
    const char* name;
    FakeDriver driver;
    std::optional<int> undo;  // what EnterLowLatency returns
    int flagsAfter;
  } rows[] = {{"takes", {kSkipTest}, kSkipTest, kSkipTest | kLowLatency},
              {"already on", {kLowLatency}, std::nullopt, kLowLatency},
              {"has no serial info", {0, ENOTTY}, std::nullopt, 0},
              {"refuses the mode", {kSkipTest, 0, EPERM}, std::nullopt, kSkipTest}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto driver = std::make_shared<FakeDriver>(row.driver);
    EXPECT_EQ(EnterLowLatency(3, CallsOf(driver)), row.undo);
    EXPECT_EQ(driver->flags, row.flagsAfter);
    EXPECT_EQ(driver->sets, row.undo ? 1 : 0);
  }
}

// The flags found at open come back at close; a setting changed meanwhile stays. The
// kernel's own calls then refuse the mode on a pseudo-terminal, and it opens all the same.
TEST(LowLatencyDevice, OpenSetsTheModeCloseRestoresTheFlagsAndARefusalIsNoError) {
  test::PseudoTerminal pty;
  ASSERT_TRUE(pty.Valid());
  auto driver = std::make_shared<FakeDriver>(FakeDriver{kSkipTest});
  auto opened = PosixSerialDevice::Open(pty.SlavePath(), 0ms, CallsOf(driver));
  ASSERT_NE(opened.device, nullptr);
  EXPECT_EQ(driver->flags, kSkipTest | kLowLatency);
  driver->flags |= static_cast<int>(ASYNC_SPD_HI);
  opened.device.reset();
  EXPECT_EQ(driver->flags, kSkipTest | static_cast<int>(ASYNC_SPD_HI));

  opened = PosixSerialDevice::Open(pty.SlavePath());
  ASSERT_NE(opened.device, nullptr) << "errno " << opened.error;
  serial_struct info{};
  EXPECT_NE(KernelSerialInfoCalls().get(opened.device->Fd(), info), 0);
}

}  // namespace
}  // namespace tavrin::serial
