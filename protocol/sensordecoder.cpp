#include "protocol/sensordecoder.h"

#include <charconv>
#include <iterator>
#include <utility>

namespace velmora::sci
{

namespace
{

constexpr std::string_view kEol = "\r\n";

// Enough for every line of a packet with all flags set; avoids regrowth on the hot path.
constexpr std::size_t kReportReserve = 640;

constexpr std::string_view kChargingStates[] = {
    "Not Charging",     "Charging Recovery", "Charging",
    "Trickle Charging", "Waiting",           "Charging Error",
};

bool bit(std::uint8_t byte, int n)
{
    return ((byte >> n) & 1U) != 0;
}

std::uint16_t u16(const SensorPacket &p, std::size_t at)
{
    return static_cast<std::uint16_t>((p[at] << 8) | p[at + 1]);
}

std::int16_t s16(const SensorPacket &p, std::size_t at)
{
    return static_cast<std::int16_t>(u16(p, at));
}

class Report
{
public:
    explicit Report(SensorReport &out) : out_(out) {}

    void line(std::string_view text)
    {
        out_ += text;
        out_ += kEol;
    }

    void flag(bool on, std::string_view text)
    {
        if (on)
            line(text);
    }

    void number(std::string_view label, int value, std::string_view unit = {})
    {
        char digits[12];
        const auto res = std::to_chars(std::begin(digits), std::end(digits), value);
        out_ += label;
        out_.append(digits, res.ptr);
        out_ += unit;
        out_ += kEol;
    }

    void text(std::string_view text) { out_ += text; }

private:
    SensorReport &out_;
};

} // namespace

SensorData decodeSensors(const SensorPacket &p)
{
    SensorData s;
    s.bumpRight = bit(p[0], 0);
    s.bumpLeft = bit(p[0], 1);
    s.wheeldropRight = bit(p[0], 2);
    s.wheeldropLeft = bit(p[0], 3);
    s.wheeldropCaster = bit(p[0], 4);
    s.wall = bit(p[1], 0);
    s.cliffLeft = bit(p[2], 0);
    s.cliffFrontLeft = bit(p[3], 0);
    s.cliffFrontRight = bit(p[4], 0);
    s.cliffRight = bit(p[5], 0);
    s.virtualWall = bit(p[6], 0);
    s.sideBrushOvercurrent = bit(p[7], 0);
    s.vacuumOvercurrent = bit(p[7], 1);
    s.mainBrushOvercurrent = bit(p[7], 2);
    s.rightWheelOvercurrent = bit(p[7], 3);
    s.leftWheelOvercurrent = bit(p[7], 4);
    s.dirtLeft = p[8];
    s.dirtRight = p[9];
    s.remoteOpcode = p[10];
    s.maxButton = bit(p[11], 0);
    s.cleanButton = bit(p[11], 1);
    s.spotButton = bit(p[11], 2);
    s.powerButton = bit(p[11], 3);
    s.distanceMm = s16(p, 12);
    s.angle = s16(p, 14);
    s.chargingState = p[16];
    s.voltageMv = u16(p, 17);
    s.currentMa = s16(p, 19);
    s.temperatureC = static_cast<std::int8_t>(p[21]);
    s.chargeMah = u16(p, 22);
    s.capacityMah = u16(p, 24);
    return s;
}

std::string_view chargingStateName(std::uint8_t state)
{
    return state < std::size(kChargingStates) ? kChargingStates[state] : std::string_view();
}

StopConditions stopConditions(const SensorData &s)
{
    StopConditions stops;
    const std::pair<bool, StopCondition> rule[] = {
        {s.bumpRight, StopCondition::BumpRight},
        {s.bumpLeft, StopCondition::BumpLeft},
        {s.cliffLeft, StopCondition::CliffLeft},
        {s.cliffFrontLeft, StopCondition::CliffFrontLeft},
        {s.cliffFrontRight, StopCondition::CliffFrontRight},
        {s.cliffRight, StopCondition::CliffRight},
        {s.rightWheelOvercurrent, StopCondition::RightWheelOvercurrent},
        {s.leftWheelOvercurrent, StopCondition::LeftWheelOvercurrent},
    };
    for (const auto &[on, condition] : rule) {
        if (on)
            stops.push(condition);
    }
    return stops;
}

SensorIndicators indicatorsOn(const SensorData &s)
{
    SensorIndicators shown;
    const std::pair<bool, SensorIndicator> labels[] = {
        {s.bumpRight, SensorIndicator::BumpRight},
        {s.bumpLeft, SensorIndicator::BumpLeft},
        {s.wheeldropRight, SensorIndicator::WheeldropRight},
        {s.wheeldropLeft, SensorIndicator::WheeldropLeft},
        {s.wheeldropCaster, SensorIndicator::Caster},
    };
    for (const auto &[on, indicator] : labels) {
        if (on)
            shown.push(indicator);
    }
    return shown;
}

OutOfStep outOfStep(const SensorData &s)
{
    if (s.chargingState > kLastChargingState)
        return OutOfStep::ChargingState;
    if (s.voltageMv < kMinRunningVoltageMv || s.voltageMv > kMaxRunningVoltageMv)
        return OutOfStep::Voltage;
    return OutOfStep::No;
}

void DecodeSensorPacketInto(const SensorData &s, SensorReport &report)
{
    report.clear();
    report.reserve(kReportReserve);
    Report r(report);
    r.flag(s.bumpRight, "Bump Right");
    r.flag(s.bumpLeft, "Bump Left");
    r.flag(s.wheeldropRight, "Wheeldrop Right");
    r.flag(s.wheeldropLeft, "Wheeldrop Left");
    r.flag(s.wheeldropCaster, "Wheeldrop Caster");
    r.flag(s.wall, "Wall is on right");
    r.flag(s.cliffLeft, "Left Cliff");
    r.flag(s.cliffFrontLeft, "Front Left Cliff");
    r.flag(s.cliffFrontRight, "Front Right Cliff");
    r.flag(s.cliffRight, "Right Cliff");
    r.flag(s.virtualWall, "Virtual Wall is near");
    r.flag(s.sideBrushOvercurrent, "SideBrush OverCurrent");
    r.flag(s.vacuumOvercurrent, "Vacuum OverCurrent");
    r.flag(s.mainBrushOvercurrent, "Main Brush OverCurrent");
    r.flag(s.rightWheelOvercurrent, "RightWheel Overcurrent");
    r.flag(s.leftWheelOvercurrent, "LeftWheel Overcurrent");
    if (s.dirtLeft != 0)
        r.number("Left Dirt Sensor = ", s.dirtLeft);
    if (s.dirtRight != 0)
        r.number("Right Dirt Sensor = ", s.dirtRight);
    if (s.remoteOpcode != kNoRemoteOpcode)
        r.number("Remote Control Command = ", s.remoteOpcode);
    r.flag(s.maxButton, "Max button pressed");
    r.flag(s.cleanButton, "Clean button pressed");
    r.flag(s.spotButton, "Spot button pressed");
    r.flag(s.powerButton, "Power button pressed");
    r.number("Distance = ", s.distanceMm);
    r.number("Angle = ", s.angle);
    // Unknown states get no name and no line end, so the voltage continues this line.
    r.text("Charging State = ");
    if (const std::string_view name = chargingStateName(s.chargingState); !name.empty())
        r.line(name);
    r.number("Voltage: ", s.voltageMv, "mv");
    r.number("Battery Current Draw: ", s.currentMa);
    r.number("Temperature: ", s.temperatureC, "C");
    r.number("Charge: ", s.chargeMah, "maH");
    r.number("Capacity: ", s.capacityMah, "maH");
    r.text(kEol);
    r.line("End Sensor Data");
}

SensorReport DecodeSensorPacket(const SensorPacket &packet)
{
    SensorReport report;
    DecodeSensorPacketInto(decodeSensors(packet), report);
    return report;
}

} // namespace velmora::sci
