// The engine side of the COM port test: test frames (0x02, 16-bit big-endian length,
// the text, 0x03) sent through the link, and the receiver that, while the test is
// active, takes every received block instead of the output window and shows the payload
// of each test frame that comes back.
//
// Threads: the UI thread sends and sets the test-active flag; the reader/status thread
// (through OutputABuffer) reads the flag and calls ComTestReceive. The receiver's frame
// state is kept across blocks and is not reset by opening or closing the test.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tavrin::serial {

constexpr std::uint8_t kTestFrameStart = 0x02;  // first byte of a test frame
constexpr std::uint8_t kTestFrameEnd = 0x03;    // last byte (not checked on receipt)
constexpr std::size_t kMaxTestText = 3000;      // characters the sender puts in a frame

// Shown (caption "COM Port Test") when the text is longer than kMaxTestText.
constexpr std::string_view kTestTextTooLong =
    "Cann't Transmit!!!\nData exceeds the buffer size\nDelete some data and send again";
constexpr std::string_view kTestTooLongCaption = "COM Port Test";

// The frame around `text`; nullopt when the text is longer than kMaxTestText.
std::optional<std::vector<std::uint8_t>> EncodeTestFrame(std::string_view text);

enum class TestSendResult {
  kSent,       // the whole frame was written
  kTooLong,    // nothing sent: show kTestTextTooLong
  kShortWrite  // the port took less than the frame (already reported by the link)
};

// Builds the frame around `text` and writes it with `write` (WriterGeneric).
TestSendResult SendTestFrame(
    std::string_view text, const std::function<std::size_t(std::span<const std::uint8_t>)>& write);

// Where the payload of a test frame that came back is shown: the Receiver box of the
// dialog, or the command line's output. Called on the reader/status thread, which must not
// wait for the UI thread: a window queues the payload (it owns it) and returns.
class ComTestView {
 public:
  virtual ~ComTestView() = default;
  // The payload of one frame (a frame of length 0 shows nothing); the view's to keep.
  virtual void ShowReceived(std::vector<std::uint8_t> payload) = 0;
};

class ComTest {
 public:
  explicit ComTest(ComTestView& view) : view_(view) {}

  // The test dialog opens (true) or closes (false). UI thread.
  void SetActive(bool active) { active_.store(active); }
  // Whether received blocks go to ComTestReceive. Read by OutputABuffer.
  bool Active() const { return active_.load(); }

  // Takes one received block: finds the start byte, the length and the payload, which
  // may span any number of blocks. When a frame completes, the rest of its block is
  // dropped; the next frame is looked for from the next block on.
  void ComTestReceive(std::span<const std::uint8_t> block);

 private:
  // Consumes bytes of `block` from `at`; returns where it stopped, or nullopt when a
  // frame ended (the rest of the block is dropped).
  std::optional<std::size_t> FindStart(std::span<const std::uint8_t> block, std::size_t at);
  std::optional<std::size_t> TakeLength(std::span<const std::uint8_t> block, std::size_t at);
  std::optional<std::size_t> TakePayload(std::span<const std::uint8_t> block, std::size_t at);
  void EndFrame();

  ComTestView& view_;
  std::atomic<bool> active_{false};
  bool frameStarted_ = false;
  bool headerComplete_ = false;
  int lengthBytesTaken_ = 0;
  std::uint16_t expectedLength_ = 0;
  std::vector<std::uint8_t> payload_;
};

}  // namespace tavrin::serial
