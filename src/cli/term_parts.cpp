#include "cli/term_parts.h"

#include <langinfo.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <charconv>
#include <clocale>
#include <cstring>

namespace tavrin::cli {

bool Utf8Terminal() {
  std::setlocale(LC_CTYPE, "");
  const char* codeset = ::nl_langinfo(CODESET);
  return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
}

std::string PathTyped(std::string text, const char* home) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);
  if (home != nullptr && (text == "~" || text.starts_with("~/"))) text = home + text.substr(1);
  return text;
}

std::optional<std::uint32_t> BaudTyped(std::string_view text) {
  std::uint32_t baud = 0;
  const auto* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, baud);
  if (error != std::errc{} || at != end || baud == 0) return std::nullopt;
  return baud;
}

TermSignals::TermSignals() {
  sigemptyset(&set_);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGWINCH}) sigaddset(&set_, signal);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  fd_ = ::signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
  ::signal(SIGPIPE, SIG_IGN);
}

TermSignals::~TermSignals() {
  if (fd_ >= 0) ::close(fd_);
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int TermSignals::Next() {
  signalfd_siginfo info{};
  if (fd_ < 0 || ::read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
  return static_cast<int>(info.ssi_signo);
}

Wake::Wake() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

Wake::~Wake() {
  if (fd_ >= 0) ::close(fd_);
}

void Wake::Raise() {
  const std::uint64_t one = 1;
  if (fd_ >= 0) [[maybe_unused]]
    auto written = ::write(fd_, &one, sizeof one);
}

void Wake::Drain() {
  std::uint64_t value = 0;
  if (fd_ >= 0) [[maybe_unused]]
    auto got = ::read(fd_, &value, sizeof value);
}

void TermVoice::Note(std::string_view text) {
  screen_.Message("tavrin-cli: " + std::string(text));
}

void TermVoice::ReportText(std::string_view text) {
  std::string lines;
  for (const char c : text) {
    if (c != '\r') lines.push_back(c);
  }
  while (!lines.empty() && lines.back() == '\n') lines.pop_back();
  screen_.Message(lines);
}

void TermTrace::Dump(std::string_view direction, std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  if (bytes.empty()) return;
  std::string line = std::string(direction) + " " + std::to_string(bytes.size()) + ":";
  line.reserve(line.size() + bytes.size() * 3);
  for (const std::uint8_t b : bytes) {
    line.push_back(' ');
    line.push_back(kDigits[b >> 4]);
    line.push_back(kDigits[b & 0x0F]);
  }
  screen_.Message(line);
}

}  // namespace tavrin::cli
