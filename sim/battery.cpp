#include "sim/battery.h"

#include <algorithm>
#include <cmath>

namespace velmora::sim
{

namespace
{

constexpr double kRecoveryBelow = 0.10 * Battery::kCapacityMah;
constexpr double kTrickleFrom = 0.95 * Battery::kCapacityMah;
constexpr double kTemperatureTimeConstant = 600; // s
constexpr double kAmbient = 25;

} // namespace

void Battery::setLoad(double drawMa, bool docked)
{
    draw_ = drawMa;
    docked_ = docked;
    if (!docked)
        state_ = NotCharging;
    else if (chargeError_)
        state_ = ChargingError;
    else if (charge_ < kRecoveryBelow)
        state_ = ChargingRecovery;
    else if (charge_ < kTrickleFrom)
        state_ = Charging;
    else if (charge_ < kCapacityMah)
        state_ = TrickleCharging;
    else
        state_ = Waiting;
}

double Battery::chargeCurrent() const
{
    switch (state_) {
    case ChargingRecovery:
        return 500;
    case Charging:
        return 1500;
    case TrickleCharging:
        return 100;
    default:
        return 0;
    }
}

// On the dock the charger powers the robot as well; the battery only sees the charge current.
double Battery::batteryDraw() const
{
    return docked_ ? 0 : draw_;
}

void Battery::step(double seconds)
{
    charge_ = std::clamp(charge_ + (chargeCurrent() - batteryDraw()) * seconds / 3600.0, 0.0,
                         static_cast<double>(kCapacityMah));
    const double target = kAmbient + batteryDraw() / 400 + (state_ == Charging ? 5 : 0);
    temperature_ += (target - temperature_) * (1 - std::exp(-seconds / kTemperatureTimeConstant));
    setLoad(draw_, docked_);
}

void Battery::setCharge(double mah)
{
    charge_ = std::clamp(mah, 0.0, static_cast<double>(kCapacityMah));
    setLoad(draw_, docked_);
}

int Battery::voltageMv() const
{
    const bool charging =
        state_ == ChargingRecovery || state_ == Charging || state_ == TrickleCharging;
    const double mv =
        13400 + 2800 * charge_ / kCapacityMah - batteryDraw() / 8 + (charging ? 600 : 0);
    return static_cast<int>(std::lround(std::clamp(mv, 0.0, 65535.0)));
}

int Battery::currentMa() const
{
    return static_cast<int>(
        std::lround(std::clamp(chargeCurrent() - batteryDraw(), -32768.0, 32767.0)));
}

int Battery::temperatureC() const
{
    return static_cast<int>(std::lround(std::clamp(temperature_, -128.0, 127.0)));
}

int Battery::chargeMah() const
{
    return static_cast<int>(std::lround(charge_));
}

} // namespace velmora::sim
