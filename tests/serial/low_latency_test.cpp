// Low-latency mode at open and close, against a driver played in memory (a pseudo-
// terminal has no such mode) and against the kernel's refusal on a pseudo-terminal.
#include "serial/low_latency.h"

#include <gtest/gtest.h>
#include <linux/serial.h>

#include <memory>
#include <optional>

#include "serial/posix_serial_device.h"
#include "serial_fakes.h"

namespace tavrin::serial {
namespace {

using namespace std::chrono_literals;

// Driver flags as serial_struct holds them (an int).
constexpr int kLowLatency = static_cast<int>(ASYNC_LOW_LATENCY);
constexpr int kSkipTest = static_cast<int>(ASYNC_SKIP_TEST);
constexpr int kSpdHi = static_cast<int>(ASYNC_SPD_HI);

// A driver's serial flags, with refusals on cue.
struct FakeDriver {
  int flags = 0;
  int getError = 0;
  int setError = 0;
  int sets = 0;  // accepted TIOCSSERIAL calls
};

SerialInfoCalls CallsOf(const std::shared_ptr<FakeDriver>& driver) {
  return {[driver](int, serial_struct& info) {
            if (driver->getError != 0) return driver->getError;
            info.flags = driver->flags;
            return 0;
          },
          [driver](int, const serial_struct& info) {
            if (driver->setError != 0) return driver->setError;
            driver->flags = info.flags;
            ++driver->sets;
            return 0;
          }};
}

struct EnterRow {
  const char* name;
  int flags;  // the driver's, before
  int getError;
  int setError;
  std::optional<int> undo;  // what EnterLowLatency returns
  int flagsAfter;
};

class EnterLowLatencyTest : public testing::TestWithParam<EnterRow> {};

TEST_P(EnterLowLatencyTest, SetsTheModeOrLeavesTheDriverAsItWas) {
  const EnterRow& row = GetParam();
  auto driver = std::make_shared<FakeDriver>(FakeDriver{row.flags, row.getError, row.setError});
  EXPECT_EQ(EnterLowLatency(3, CallsOf(driver)), row.undo);
  EXPECT_EQ(driver->flags, row.flagsAfter);
  EXPECT_EQ(driver->sets, row.undo ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, EnterLowLatencyTest,
    testing::Values(EnterRow{"Takes", kSkipTest, 0, 0, kSkipTest, kSkipTest | kLowLatency},
                    EnterRow{"AlreadyOn", kLowLatency, 0, 0, std::nullopt, kLowLatency},
                    EnterRow{"HasNoSerialInfo", 0, ENOTTY, 0, std::nullopt, 0},
                    EnterRow{"RefusesTheMode", kSkipTest, 0, EPERM, std::nullopt, kSkipTest}),
    [](const auto& row) { return std::string(row.param.name); });

class LowLatencyDeviceTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(pty_.Valid()); }
  test::PseudoTerminal pty_;
};

// The flags found at open come back at close; a setting changed meanwhile stays.
TEST_F(LowLatencyDeviceTest, OpenSetsTheModeAndCloseRestoresTheFlags) {
  auto driver = std::make_shared<FakeDriver>(FakeDriver{kSkipTest});
  auto opened = PosixSerialDevice::Open(pty_.SlavePath(), 0ms, CallsOf(driver));
  ASSERT_NE(opened.device, nullptr);
  EXPECT_EQ(driver->flags, kSkipTest | kLowLatency);
  driver->flags |= kSpdHi;
  opened.device.reset();
  EXPECT_EQ(driver->flags, kSkipTest | kSpdHi);
}

// The kernel's own calls: a pseudo-terminal has no serial driver flags, and the port
// opens all the same (every other pseudo-terminal test then uses it).
TEST_F(LowLatencyDeviceTest, APseudoTerminalRefusesTheModeAndStillOpens) {
  auto opened = PosixSerialDevice::Open(pty_.SlavePath());
  ASSERT_NE(opened.device, nullptr) << "errno " << opened.error;
  serial_struct info{};
  EXPECT_NE(KernelSerialInfoCalls().get(opened.device->Fd(), info), 0);
}

}  // namespace
}  // namespace tavrin::serial
