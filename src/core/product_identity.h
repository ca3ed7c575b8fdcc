// The product identity: the release's version numbers, project id and build date. The About
// box and the command line's --version show it; the settings store's key paths are made
// from it, so each release keeps settings of its own.
#pragma once

#include <cstdint>
#include <string>

namespace tavrin::core {

struct ProductIdentity {
  std::uint16_t major;
  std::uint8_t minor;
  std::uint8_t build;
  const char* projectId;  // at most 11 characters
};

inline constexpr ProductIdentity kProductIdentity{1, 1, 0, "TVR-STB-001"};

// The date this program was built: "Dec 5 2026" (single blanks, no leading zero).
std::string BuildDate();

// "Version1.1.0c": the version part of the settings key path.
std::string VersionText(const ProductIdentity& identity = kProductIdentity);

}  // namespace tavrin::core
