#include "core/product_identity.h"

#include <array>
#include <chrono>
#include <sstream>

namespace tavrin::core {
namespace {

constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

std::string BuildDateFromEpoch(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_days day = floor<days>(sys_seconds(std::chrono::seconds(seconds)));
  const year_month_day date(day);
  return std::string(kMonthNames[static_cast<unsigned>(date.month()) - 1]) + " " +
         std::to_string(static_cast<unsigned>(date.day())) + " " +
         std::to_string(static_cast<int>(date.year()));
}

std::optional<std::string> BuildDateFromCompilerDate(const std::string& compilerDate) {
  std::istringstream in(compilerDate);
  std::string month;
  unsigned day = 0;
  int year = 0;
  if (!(in >> month >> day >> year) || day == 0 || day > 31) return std::nullopt;
  return month + " " + std::to_string(day) + " " + std::to_string(year);
}

std::string BuildDate() {
#ifdef TAVRIN_SOURCE_DATE_EPOCH
  return BuildDateFromEpoch(TAVRIN_SOURCE_DATE_EPOCH);
#else
  // A developer's build: the day this file was compiled.
  return BuildDateFromCompilerDate(__DATE__).value_or(__DATE__);
#endif
}

std::string VersionText(const ProductIdentity& identity) {
  return "Version" + std::to_string(identity.major) + "." + std::to_string(identity.minor) + "." +
         std::to_string(identity.build) + "c";
}

}  // namespace tavrin::core
