#pragma once

#include <cstdint>

namespace velmora::sim
{

// A nickel-metal-hydride pack as the robot reports it: charge drains with what the robot
// draws and fills on the dock through the charging states 0 to 5.
class Battery
{
public:
    static constexpr int kCapacityMah = 2700;

    enum State : std::uint8_t {
        NotCharging = 0,
        ChargingRecovery = 1,
        Charging = 2,
        TrickleCharging = 3,
        Waiting = 4,
        ChargingError = 5,
    };

    // drawMa is what the robot uses (positive); docked means a powered charger is connected.
    void setLoad(double drawMa, bool docked);
    void step(double seconds);

    void setCharge(double mah);
    void setChargeError(bool on)
    {
        chargeError_ = on;
        setLoad(draw_, docked_);
    }
    bool chargeError() const { return chargeError_; }

    State state() const { return state_; }
    int voltageMv() const;
    int currentMa() const; // negative while discharging
    int temperatureC() const;
    int chargeMah() const;
    bool empty() const { return charge_ <= 0; }

private:
    double chargeCurrent() const;
    double batteryDraw() const;

    double charge_ = 2500;
    double temperature_ = 25;
    double draw_ = 0;
    bool docked_ = false;
    bool chargeError_ = false;
    State state_ = NotCharging;
};

} // namespace velmora::sim
