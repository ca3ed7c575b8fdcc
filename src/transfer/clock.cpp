#include "transfer/clock.h"

#include <ctime>

namespace tavrin::transfer {

int SystemClock::SecondOfHour() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  return utc.tm_min * 60 + utc.tm_sec;
}

}  // namespace tavrin::transfer
