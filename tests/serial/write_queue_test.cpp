#include "serial/write_queue.h"

#include <gtest/gtest.h>

#include "serial/error_reporter.h"
#include "support/recorders.h"

namespace tavrin::serial {
namespace {

WriterPacket Char(char c, WriterPacketKind kind = WriterPacketKind::kSendChar) {
  return {kind, static_cast<std::uint8_t>(c), {}};
}

WriterPacket Block(std::string_view text) {
  return {WriterPacketKind::kSendBlock, 0, {text.begin(), text.end()}};
}

class WriteQueueTest : public testing::Test {
 protected:
  void SetUp() override { queue_.Open(); }

  // The writes the writer thread makes of what is queued.
  std::vector<std::string> Serve() {
    std::vector<std::string> writes;
    ServiceWriteQueue(
        queue_,
        [&writes](std::span<const std::uint8_t> bytes) {
          writes.emplace_back(bytes.begin(), bytes.end());
          return bytes.size();
        },
        reporter_);
    return writes;
  }

  WriteQueue queue_;
  tavrin::test::RecordingErrorSink sink_;
  ErrorReporter reporter_{sink_};
};

TEST_F(WriteQueueTest, ABadRequestIsReportedAndTheRestStillServedInOrder) {
  queue_.Push(Char('a'));
  queue_.Push(Char('x', static_cast<WriterPacketKind>(7)));
  queue_.Push(Char('b'));
  EXPECT_EQ(Serve(), (std::vector<std::string>{"a", "b"}));
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_EQ(sink_.Errors()[0].rfind("Error 0: Bad write request.\n\r", 0), 0u);
  EXPECT_EQ(queue_.Size(), 0u);
  EXPECT_EQ(sink_.EndProcessCalls(), 0);
}

TEST_F(WriteQueueTest, DropsWhatIsLeftWhenItClosesAndRefusesPushesWhileClosed) {
  queue_.Push(Char('k'));
  queue_.Close();
  EXPECT_EQ(queue_.Push(Char('k')), WriteQueue::PushResult::kNoQueue);
  queue_.Open();
  EXPECT_TRUE(Serve().empty());
}

// A line or a test frame goes out in one write, in order with the typed characters.
TEST_F(WriteQueueTest, BlocksGoOutWholeBetweenCharacters) {
  queue_.Push(Char('a'));
  queue_.Push(Block("line\r"));
  queue_.Push(Char('b'));
  EXPECT_EQ(queue_.Push(Block(std::string(kMaxWriterBlock + 1, 'x'))),
            WriteQueue::PushResult::kTooLong);
  EXPECT_EQ(Serve(), (std::vector<std::string>{"a", "line\r", "b"}));
}

// Once the link is told to stop, a packet would never be sent: it is refused, not queued.
TEST_F(WriteQueueTest, RefusesPushesOnceInterrupted) {
  queue_.Interrupt();
  EXPECT_EQ(queue_.Push(Char('k')), WriteQueue::PushResult::kNoQueue);
  EXPECT_EQ(queue_.Push(Block("line")), WriteQueue::PushResult::kNoQueue);
  queue_.ClearInterrupt();
  EXPECT_EQ(queue_.Push(Char('k')), WriteQueue::PushResult::kQueued);
}

TEST_F(WriteQueueTest, AnInterruptedQueueSendsNothingMoreAndWakesItsWaiter) {
  EXPECT_EQ(queue_.WaitForWork(std::chrono::milliseconds{0}), WriteQueue::Wake::kTimeout);
  queue_.Push(Char('k'));
  queue_.Interrupt();
  EXPECT_EQ(queue_.WaitForWork(std::chrono::milliseconds{0}), WriteQueue::Wake::kStop);
  EXPECT_TRUE(Serve().empty());
  queue_.ClearInterrupt();
  EXPECT_EQ(queue_.WaitForWork(std::chrono::milliseconds{0}), WriteQueue::Wake::kWork);
}

}  // namespace
}  // namespace tavrin::serial
