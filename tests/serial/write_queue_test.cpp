#include "serial/write_queue.h"

#include <gtest/gtest.h>

#include "serial/error_reporter.h"
#include "support/recorders.h"

namespace tavrin::serial {
namespace {

class WriteQueueTest : public testing::Test {
 protected:
  void SetUp() override { queue_.Open(); }

  void Serve() {
    ServiceWriteQueue(
        queue_,
        [this](std::span<const std::uint8_t> bytes) {
          sent_.append(bytes.begin(), bytes.end());
          return bytes.size();
        },
        reporter_);
  }

  WriteQueue queue_;
  std::string sent_;
  tavrin::test::RecordingErrorSink sink_;
  ErrorReporter reporter_{sink_};
};

TEST_F(WriteQueueTest, ABadRequestIsReportedAndTheRestStillServedInOrder) {
  queue_.Push({WriterPacketKind::kSendChar, 'a'});
  queue_.Push({static_cast<WriterPacketKind>(7), 'x'});
  queue_.Push({WriterPacketKind::kSendChar, 'b'});
  Serve();
  EXPECT_EQ(sent_, "ab");
  ASSERT_EQ(sink_.Errors().size(), 1u);
  EXPECT_EQ(sink_.Errors()[0].rfind("Error 0: Bad write request.\n\r", 0), 0u);
  EXPECT_EQ(queue_.Size(), 0u);
  EXPECT_EQ(sink_.EndProcessCalls(), 0);
}

TEST_F(WriteQueueTest, HoldsAtMostTheFixedPool) {
  for (std::size_t i = 0; i < kMaxWriterPackets; ++i) {
    ASSERT_EQ(queue_.Push({WriterPacketKind::kSendChar, 'k'}), WriteQueue::PushResult::kQueued);
  }
  EXPECT_EQ(queue_.Push({WriterPacketKind::kSendChar, 'k'}), WriteQueue::PushResult::kFull);
  Serve();
  EXPECT_EQ(sent_.size(), kMaxWriterPackets);
}

TEST_F(WriteQueueTest, RefusesPushesWhileClosedAndDropsWhatIsLeftWhenItCloses) {
  queue_.Push({WriterPacketKind::kSendChar, 'k'});
  queue_.Close();
  EXPECT_EQ(queue_.Push({WriterPacketKind::kSendChar, 'k'}), WriteQueue::PushResult::kNoQueue);
  queue_.Open();
  Serve();
  EXPECT_EQ(sent_, "");
}

TEST_F(WriteQueueTest, AnInterruptedQueueSendsNothingMoreAndWakesItsWaiter) {
  queue_.Push({WriterPacketKind::kSendChar, 'k'});
  queue_.Interrupt();
  EXPECT_EQ(queue_.WaitForWork(std::chrono::milliseconds{0}), WriteQueue::Wake::kStop);
  Serve();
  EXPECT_EQ(sent_, "");
  queue_.ClearInterrupt();
  EXPECT_EQ(queue_.WaitForWork(std::chrono::milliseconds{0}), WriteQueue::Wake::kWork);
}

TEST_F(WriteQueueTest, AnEmptyQueueLeavesTheWriterWaiting) {
  EXPECT_EQ(queue_.WaitForWork(std::chrono::milliseconds{0}), WriteQueue::Wake::kTimeout);
}

}  // namespace
}  // namespace tavrin::serial
