// The pieces `tavrin-cli term` is built from beside its screen and keys: the signals that
// end it, the wake-up its main loop gets from the engine's threads, the voice the engine
// and the transfer speak through, and the reading of what is typed at its questions.
#pragma once

#include <signal.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/cli_views.h"
#include "cli/term_screen.h"
#include "core/port_core.h"

namespace tavrin::cli {

// The exit status of a run that `signal` ended (Ctrl+C counts as SIGINT).
constexpr int SignalStatus(int signal) {
  return 128 + signal;
}

// Whether the user's terminal takes UTF-8 (the locale's character set).
bool Utf8Terminal();

// A path typed at a question: surrounding blanks dropped, "~/" as the shell would have it.
std::string PathTyped(std::string text, const char* home);

// A baud rate typed at a question: a positive number, nothing else.
std::optional<std::uint32_t> BaudTyped(std::string_view text);

// SIGINT, SIGTERM and SIGHUP end the terminal; SIGWINCH redraws the bottom line. They are
// taken through a descriptor by the main thread alone, blocked before any thread starts
// (the engine's threads inherit the mask). SIGPIPE is ignored: a closed stdout ends a
// write with EPIPE, not the process.
class TermSignals {
 public:
  TermSignals();
  ~TermSignals();
  TermSignals(const TermSignals&) = delete;
  TermSignals& operator=(const TermSignals&) = delete;
  int Fd() const { return fd_; }
  // The next signal raised, 0 when none.
  int Next();

 private:
  sigset_t set_{};
  sigset_t previous_{};
  int fd_ = -1;
};

// Wakes the main loop from the engine's threads (a fatal report, a result reported).
class Wake {
 public:
  Wake();
  ~Wake();
  Wake(const Wake&) = delete;
  Wake& operator=(const Wake&) = delete;
  void Raise();
  void Drain();
  int Fd() const { return fd_; }

 private:
  int fd_;
};

// What the engine and the transfer say, on the screen's message lines; a result reported
// wakes the main loop, which takes the progress off the bottom line.
class TermVoice final : public PortVoice {
 public:
  TermVoice(TermScreen& screen, Wake& wake) : screen_(screen), wake_(wake) {}
  void Say(std::string_view text) override { screen_.Message(text); }
  void Note(std::string_view text) override;
  // A system call's report ("Error 5: ...\n\r...\r\n") as lines.
  void ReportText(std::string_view text) override;
  void Reported(int) override { wake_.Raise(); }
  void CrcWarning(int) override {}

 private:
  TermScreen& screen_;
  Wake& wake_;
};

// --trace: every byte on the line, hex, on message lines of their own ("PC> 3: 41 42 0D").
// Sent and Received on the engine's threads.
class TermTrace final : public core::LineTrace {
 public:
  explicit TermTrace(TermScreen& screen) : screen_(screen) {}
  void Sent(std::span<const std::uint8_t> bytes) override { Dump("PC>", bytes); }
  void Received(std::span<const std::uint8_t> bytes) override { Dump("<TG", bytes); }

 private:
  void Dump(std::string_view direction, std::span<const std::uint8_t> bytes);
  TermScreen& screen_;
};

}  // namespace tavrin::cli
