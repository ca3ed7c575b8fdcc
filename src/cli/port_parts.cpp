#include "cli/port_parts.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "scripts/script_file_io.h"
#include "transfer/packet_frame.h"

namespace tavrin::cli {

std::filesystem::path TempDir::Base() {
  const char* base = std::getenv("TMPDIR");
  return base && *base ? base : "/tmp";
}

TempDir::TempDir() {
  std::string pattern = (Base() / "tavrin-cli.XXXXXX").string();
  if (::mkdtemp(pattern.data())) {
    path_ = pattern;
  } else {
    error_ = std::strerror(errno);
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void Tracer::Dump(const char* direction, std::span<const std::uint8_t> bytes) {
  if (!enabled_ || bytes.empty()) return;
  const double t = std::chrono::duration<double>(PartsClock::now() - start_).count();
  char head[64];
  std::snprintf(head, sizeof head, "%10.6f %s %zu:", t, direction, bytes.size());
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string line = tag_ + head;
  line.reserve(line.size() + bytes.size() * 3 + 1);
  for (std::uint8_t b : bytes) {
    line += ' ';
    line += kHex[b >> 4];
    line += kHex[b & 0x0F];
  }
  line += '\n';
  console_.Write(line);
}

void LineWatch::Received(std::span<const std::uint8_t> bytes) {
  tracer_.Dump("<TG", bytes);
  if (!armed_) return;
  const auto refusal = std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t b) {
    return b == transfer::kEot || b == transfer::kDc3 || b == transfer::kEtb;
  });
  if (refusal == bytes.end()) return;
  refusal_.Set(*refusal);
}

void FirstPayload::ShowReceived(std::vector<std::uint8_t> payload) {
  payload_.Set(std::string(payload.begin(), payload.end()));
}

bool CopyPrefix(const std::filesystem::path& from, std::uint64_t length,
                const std::filesystem::path& to) {
  const scripts::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  const scripts::UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (in.Get() < 0 || out.Get() < 0) return false;
  return static_cast<bool>(scripts::CopyBytes(in.Get(), 0, length, out.Get(), "keep capture"));
}

}  // namespace tavrin::cli
