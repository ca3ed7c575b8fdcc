#include "station/unit_record.h"

#include <openssl/evp.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <span>
#include <vector>

namespace tavrin::station {
namespace {

constexpr std::size_t kReadChunk = 64 * 1024;  // bytes hashed at a time

std::string Hex(std::span<const unsigned char> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

}  // namespace

std::string_view OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kLoaded:
      return "loaded";
    case Outcome::kAlreadyLoaded:
      return "already-loaded";
    case Outcome::kFailed:
      break;
  }
  return "failed";
}

std::optional<Outcome> OutcomeNamed(std::string_view name) {
  for (Outcome outcome : {Outcome::kLoaded, Outcome::kAlreadyLoaded, Outcome::kFailed}) {
    if (OutcomeName(outcome) == name) return outcome;
  }
  return std::nullopt;
}

std::optional<ImageIdentity> IdentifyImage(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    return std::nullopt;
  }
  ImageIdentity identity;
  identity.path = std::filesystem::absolute(path).lexically_normal().string();
  std::vector<char> chunk(kReadChunk);
  while (file) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(file.gcount());
    if (got == 0) break;
    if (EVP_DigestUpdate(context.get(), chunk.data(), got) != 1) return std::nullopt;
    identity.bytes += got;
  }
  if (file.bad()) return std::nullopt;
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1) return std::nullopt;
  identity.sha256 = Hex(std::span(digest.data(), length));
  return identity;
}

std::string NewUnitId() {
  uuid_t id;
  uuid_generate_random(id);
  std::array<char, 37> text{};
  uuid_unparse_lower(id, text.data());
  return text.data();
}

std::string HostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) return {};
  return name.data();
}

std::string IsoUtc(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(time.time_since_epoch());
  const std::time_t seconds = static_cast<std::time_t>(floor<std::chrono::seconds>(ms).count());
  const auto millis = static_cast<int>((ms - floor<std::chrono::seconds>(ms)).count());
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
  return text;
}

}  // namespace tavrin::station
