// The lines the simulated target runs on: the in-memory link, UART pacing, the adapter's
// delay and noise. Its frame reader is tested through the target.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "scripted_pc.h"
#include "sim/delayed_stream.h"
#include "sim/noisy_stream.h"
#include "sim/paced_stream.h"

namespace tavrin::sim::test {
namespace {

TEST(MemoryLink, BytesCrossBothWaysAndQueuesCountThem) {
  MemoryLink link;
  auto& pc = link.PcEnd();
  auto& target = link.TargetEnd();
  ASSERT_EQ(pc.Write(Bytes{1, 2, 3}, 1s, -1).count, 3u);
  EXPECT_EQ(pc.OutputQueued(), 3u);
  std::uint8_t buffer[8];
  EXPECT_EQ(target.Read(buffer, 1s), 3);
  EXPECT_EQ(pc.OutputQueued(), 0u);
  ASSERT_TRUE(target.Write(Bytes{4, 5}));
  EXPECT_EQ(pc.Read(std::span(buffer).first(1), 1s, -1).status, serial::IoStatus::kOk);
  EXPECT_EQ(buffer[0], 4);
  EXPECT_EQ(pc.InputQueued(), 1u);
  ASSERT_TRUE(pc.PurgeReceive().ok);
  EXPECT_EQ(pc.InputQueued(), 0u);
  EXPECT_EQ(pc.Read(buffer, 10ms, -1).status, serial::IoStatus::kTimeout);
  EXPECT_EQ(target.Read(buffer, 10ms), 0);
  EXPECT_FALSE(pc.GetModemLines().value.has_value());
  EXPECT_FALSE(pc.GetLineCounters().value.has_value());
}

// A PC read that waits ends for bytes written meanwhile, for the stop signal, and for the
// line's close, which both sides then see.
TEST(MemoryLink, APcReadEndsForBytesTheStopSignalOrTheClose) {
  MemoryLink link;
  std::uint8_t byte = 0;
  {
    std::jthread writer([&] { link.TargetEnd().Write(Bytes{9}); });
    EXPECT_EQ(link.PcEnd().Read(std::span(&byte, 1), 5s, -1).status, serial::IoStatus::kOk);
    EXPECT_EQ(byte, 9);
  }
  const int stop = eventfd(1, EFD_CLOEXEC);  // raised already
  EXPECT_EQ(link.PcEnd().Read(std::span(&byte, 1), 5s, stop).status, serial::IoStatus::kStopped);
  close(stop);

  std::jthread closer([&] { link.Close(); });
  const auto result = link.PcEnd().Read(std::span(&byte, 1), 5s, -1);
  EXPECT_EQ(result.status, serial::IoStatus::kFailed);
  EXPECT_EQ(result.error, EIO);
  EXPECT_EQ(link.PcEnd().Write(Bytes{1}, 1s, -1).status, serial::IoStatus::kFailed);
  EXPECT_EQ(link.TargetEnd().Read(std::span(&byte, 1), 5s), -1);
  EXPECT_FALSE(link.TargetEnd().Write(Bytes{1}));
}

// A clock that moves only when slept on (`advance`) or set; every sleep is recorded.
class FakePaceClock final : public PaceClock {
 public:
  explicit FakePaceClock(bool advance = true) : advance_(advance) {}
  TimePoint Now() override {
    std::lock_guard lock(mutex_);
    return now_;
  }
  void SleepUntil(TimePoint when) override {
    std::lock_guard lock(mutex_);
    sleeps_.push_back(when - TimePoint{});
    if (advance_) now_ = std::max(now_, when);
  }
  void Set(std::chrono::nanoseconds since) {
    std::lock_guard lock(mutex_);
    now_ = TimePoint{} + since;
  }
  std::chrono::nanoseconds Elapsed() { return Now() - TimePoint{}; }
  std::vector<std::chrono::nanoseconds> Sleeps() {
    std::lock_guard lock(mutex_);
    return sleeps_;
  }

 private:
  const bool advance_;
  std::mutex mutex_;
  TimePoint now_{};
  std::vector<std::chrono::nanoseconds> sleeps_;
};

// Ten bits a byte each way: a write returns once its bytes have crossed the line (a second
// one starts where the line is free), and a read hands over only bytes that have crossed.
// 3000 bytes at 115200 baud take 260.4166... ms, kept to the nanosecond below.
TEST(PacedStream, WritesAndReadsTakeTenBitsAByte) {
  constexpr unsigned kBaud = 115200;
  constexpr std::size_t kBytes = 3000;
  constexpr std::chrono::nanoseconds kLineTime = 260'416'666ns;
  EXPECT_EQ(LineTime(kBytes, kBaud), kLineTime);
  MemoryLink link;
  FakePaceClock clock;
  PacedStream paced(link.TargetEnd(), kBaud, clock);
  ASSERT_TRUE(paced.Write(Bytes(kBytes, 0x55)));
  EXPECT_EQ(clock.Elapsed(), kLineTime);
  EXPECT_EQ(link.PcEnd().InputQueued(), kBytes);
  ASSERT_TRUE(paced.Write(Bytes(kBytes, 0x55)));
  EXPECT_EQ(clock.Elapsed(), 2 * kLineTime);

  FakePaceClock readClock;
  PacedStream reader(link.TargetEnd(), kBaud, readClock);
  link.PcEnd().Write(Bytes(kBytes, 0x11), 1s, -1);
  std::vector<std::uint8_t> buffer(kBytes);
  EXPECT_EQ(reader.Read(buffer, 0ms), 0);  // nothing has crossed the line yet
  for (std::size_t got = 0; got < kBytes;) {
    const long n = reader.Read(std::span(buffer).subspan(got), 10s);
    ASSERT_GT(n, 0);
    got += static_cast<std::size_t>(n);
    EXPECT_GE(readClock.Elapsed(), LineTime(got, kBaud));
  }
  EXPECT_EQ(readClock.Elapsed(), kLineTime);
}

TEST(PacedStream, ReadGivesUpAtItsTimeout) {
  MemoryLink link;
  FakePaceClock clock;
  PacedStream paced(link.TargetEnd(), 100, clock);  // 100 ms a byte
  link.PcEnd().Write(Bytes{1}, 1s, -1);
  std::uint8_t byte = 0;
  EXPECT_EQ(paced.Read(std::span(&byte, 1), 40ms), 0);
  EXPECT_EQ(clock.Elapsed(), 40ms);
  EXPECT_EQ(paced.Read(std::span(&byte, 1), 1s), 1);
  EXPECT_EQ(clock.Elapsed(), 100ms);
}

// What a stream hands to the line below it: each write with the clock's time.
class RecordingStream final : public Stream {
 public:
  struct Handed {
    Bytes bytes;
    PaceClock::TimePoint at;
  };
  explicit RecordingStream(PaceClock& clock) : clock_(clock) {}
  long Read(std::span<std::uint8_t>, std::chrono::milliseconds) override { return 0; }
  bool Write(std::span<const std::uint8_t> bytes) override {
    {
      std::lock_guard lock(mutex_);
      writes_.push_back({{bytes.begin(), bytes.end()}, clock_.Now()});
    }
    changed_.notify_all();
    return true;
  }
  std::vector<Handed> WaitForWrites(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 5s, [&] { return writes_.size() >= count; });
    return writes_;
  }

 private:
  PaceClock& clock_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Handed> writes_;
};

// The group sizes a paced write of `bytes` bytes hands over, each checked to go out
// exactly when its last byte has crossed the line.
std::vector<std::size_t> GroupsOf(std::size_t bytes, SendGroups groups, unsigned baud) {
  FakePaceClock clock;
  RecordingStream line(clock);
  PacedStream paced(line, baud, clock, groups);
  EXPECT_TRUE(paced.Write(Bytes(bytes, 0x5A)));
  std::vector<std::size_t> sizes;
  std::size_t sent = 0;
  for (const auto& write : line.WaitForWrites(0)) {
    sent += write.bytes.size();
    EXPECT_EQ(write.at - PaceClock::TimePoint{}, LineTime(sent, baud));
    sizes.push_back(write.bytes.size());
  }
  EXPECT_EQ(sent, bytes);
  return sizes;
}

TEST(PacedStream, SendsInSmallGroupsOfSeededSizesAtLineTime) {
  const auto sizes = GroupsOf(2000, {4, 7}, 115200);
  for (std::size_t size = 1; size <= 4; ++size) {
    EXPECT_NE(std::ranges::find(sizes, size), sizes.end()) << size;
  }
  EXPECT_TRUE(std::ranges::all_of(sizes, [](std::size_t size) { return size <= 4; }));
  EXPECT_EQ(GroupsOf(2000, {4, 7}, 115200), sizes);
  EXPECT_NE(GroupsOf(2000, {4, 8}, 115200), sizes);
  EXPECT_EQ(GroupsOf(5, {1, 7}, 115200), std::vector<std::size_t>(5, 1));
  // Without groups: slices of 10 ms of line time.
  EXPECT_EQ(GroupsOf(300, {}, 115200), (std::vector<std::size_t>{115, 115, 70}));
}

// Each write is held for the delay from when it was written, not from when the one
// before it went out: a burst keeps its rate, as through a USB adapter's latency timer.
TEST(DelayedStream, HoldsEveryWriteTheSameTimeFromWhenItWasWritten) {
  FakePaceClock clock(false);
  RecordingStream line(clock);
  DelayedStream delayed(line, 16ms, clock);
  ASSERT_TRUE(delayed.Write(Bytes{1, 2}));
  ASSERT_TRUE(delayed.Write(Bytes{3}));
  clock.Set(5ms);
  ASSERT_TRUE(delayed.Write(Bytes{4}));
  const auto writes = line.WaitForWrites(3);
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].bytes, (Bytes{1, 2}));
  EXPECT_EQ(writes[2].bytes, Bytes{4});
  EXPECT_EQ(clock.Sleeps(), (std::vector<std::chrono::nanoseconds>{16ms, 16ms, 21ms}));
}

// The bytes that cross a noisy line from the target to the PC.
Bytes ThroughNoise(NoiseRates rates, std::uint64_t seed, const Bytes& sent,
                   NoiseCounts* counts = nullptr) {
  MemoryLink link;
  NoisyStream noisy(link.TargetEnd(), rates, NoiseRates{}, seed);
  noisy.Write(sent);
  if (counts != nullptr) *counts = noisy.WriteCounts();
  return ScriptedPc(link.PcEnd()).Drain(0ms);
}

Bytes Ramp(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

TEST(NoisyStream, SameSeedSameDamageOtherSeedOtherDamage) {
  const NoiseRates rates{0.05, 0.05, 0.05};
  const Bytes sent = Ramp(4000);
  NoiseCounts counts;
  Bytes first = ThroughNoise(rates, 42, sent, &counts);
  EXPECT_EQ(ThroughNoise(rates, 42, sent), first);
  EXPECT_NE(ThroughNoise(rates, 43, sent), first);
  EXPECT_NE(first, sent);
  EXPECT_EQ(first.size(), sent.size() - counts.dropped + counts.duplicated);
  // About 5% each: far from none and far from all.
  for (auto count : {counts.corrupted, counts.dropped, counts.duplicated}) {
    EXPECT_GT(count, 100u);
    EXPECT_LT(count, 400u);
  }
}

TEST(NoisyStream, RatesAtTheEndsAndTheReadSidesOwn) {
  const Bytes sent = Ramp(300);
  EXPECT_EQ(ThroughNoise({}, 1, sent), sent);
  EXPECT_TRUE(ThroughNoise({0, 1.0, 0}, 1, sent).empty());
  Bytes doubled = ThroughNoise({0, 0, 1.0}, 1, sent);
  ASSERT_EQ(doubled.size(), 600u);
  EXPECT_EQ(doubled[0], doubled[1]);
  Bytes corrupted = ThroughNoise({1.0, 0, 0}, 1, sent);
  ASSERT_EQ(corrupted.size(), sent.size());
  for (std::size_t i = 0; i < sent.size(); ++i) EXPECT_NE(corrupted[i], sent[i]);

  // Reads have rates of their own, and keep what does not fit for the next read.
  MemoryLink link;
  NoisyStream noisy(link.TargetEnd(), NoiseRates{}, NoiseRates{0, 0, 1.0}, 7);
  link.PcEnd().Write(Bytes{1, 2, 3}, 1s, -1);
  std::uint8_t buffer[4];
  ASSERT_EQ(noisy.Read(buffer, 1s), 4);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{1, 1, 2, 2}));
  ASSERT_EQ(noisy.Read(buffer, 1s), 2);
  EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{3, 3}));
}

}  // namespace
}  // namespace tavrin::sim::test
