// The product identity: the release's version numbers, project id and build date. The About
// box and the command line's --version show it; the settings store's key paths are made
// from it, so each release keeps settings of its own. The numbers come from the build's
// project(VERSION), so the packages, the man pages and the program agree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/product_version.h"

namespace tavrin::core {

struct ProductIdentity {
  std::uint16_t major;
  std::uint8_t minor;
  std::uint8_t build;
  const char* projectId;  // at most 11 characters
};

inline constexpr ProductIdentity kProductIdentity{TAVRIN_VERSION_MAJOR, TAVRIN_VERSION_MINOR,
                                                  TAVRIN_VERSION_PATCH, "TVR-STB-001"};

// "1.1.0": the version as the packages and --version give it.
inline constexpr const char* kVersionNumber = TAVRIN_VERSION_TEXT;

// The date this program was built: "Dec 5 2026" (single blanks, no leading zero). A build
// with SOURCE_DATE_EPOCH set (a distribution's reproducible build) takes that day (UTC);
// any other takes the compiler's date.
std::string BuildDate();

// "Dec 5 2026" for a count of seconds since 1970-01-01 UTC.
std::string BuildDateFromEpoch(std::int64_t seconds);

// "Dec 5 2026" from the compiler's "Dec  5 2026"; nullopt when it is not in that form.
std::optional<std::string> BuildDateFromCompilerDate(const std::string& compilerDate);

// "Version1.1.0c": the version part of the settings key path.
std::string VersionText(const ProductIdentity& identity = kProductIdentity);

}  // namespace tavrin::core
