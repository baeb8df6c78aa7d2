#pragma once

namespace velmora::sim
{

// Seconds on a monotonic scale. The simulator core reads time only through this,
// so tests can step it by hand instead of sleeping.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

class MonotonicClock final : public Clock
{
public:
    double now() const override;
};

class ManualClock final : public Clock
{
public:
    explicit ManualClock(double start = 0.0) : t_(start) {}
    double now() const override { return t_; }
    void set(double t) { t_ = t; }
    void advance(double seconds) { t_ += seconds; }

private:
    double t_;
};

} // namespace velmora::sim
