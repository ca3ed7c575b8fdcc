// The transfer's clock: the second of the hour (minute * 60 + second, UTC). Injected so
// that tests can reach a 15-second deadline without waiting for it.
#pragma once

namespace tavrin::transfer {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int SecondOfHour() = 0;
};

class SystemClock final : public Clock {
 public:
  int SecondOfHour() override;
};

}  // namespace tavrin::transfer
