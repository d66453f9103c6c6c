// Time as the simulated platform sees it. Waveforms are sampled against it
// and per-call latency is spent on it, so tests can drive both with a fake.
#pragma once

namespace varno::sim {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since a fixed point of this clock's choosing; never goes back.
  virtual double Now() = 0;
  // Lets `seconds` pass; the real clock blocks the caller that long.
  virtual void Sleep(double seconds) = 0;
};

// The host's monotonic clock.
class SteadyClock final : public Clock {
 public:
  double Now() override;
  void Sleep(double seconds) override;
};

}  // namespace varno::sim
