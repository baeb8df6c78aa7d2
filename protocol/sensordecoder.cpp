#include "protocol/sensordecoder.h"

#include <charconv>
#include <string_view>

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

class Walk
{
public:
    Walk(const SensorPacket &p, SensorEventSink &sink, SensorReport &out)
        : p_(p), sink_(sink), out_(out)
    {
    }

    void run()
    {
        const std::uint8_t bumps = p_[0];
        if (bit(bumps, 0)) {
            line("Bump Right");
            sink_.showIndicator(SensorIndicator::BumpRight);
            sink_.requestStop();
        }
        if (bit(bumps, 1)) {
            line("Bump Left");
            sink_.showIndicator(SensorIndicator::BumpLeft);
            sink_.requestStop();
        }
        if (bit(bumps, 2)) {
            line("Wheeldrop Right");
            sink_.showIndicator(SensorIndicator::WheeldropRight);
        }
        if (bit(bumps, 3)) {
            line("Wheeldrop Left");
            sink_.showIndicator(SensorIndicator::WheeldropLeft);
        }
        if (bit(bumps, 4)) {
            line("Wheeldrop Caster");
            sink_.showIndicator(SensorIndicator::Caster);
        }
        if (bit(p_[1], 0))
            line("Wall is on right");
        cliff(p_[2], "Left Cliff");
        cliff(p_[3], "Front Left Cliff");
        cliff(p_[4], "Front Right Cliff");
        cliff(p_[5], "Right Cliff");
        if (bit(p_[6], 0))
            line("Virtual Wall is near");

        const std::uint8_t motors = p_[7];
        if (bit(motors, 0))
            line("SideBrush OverCurrent");
        if (bit(motors, 1))
            line("Vacuum OverCurrent");
        if (bit(motors, 2))
            line("Main Brush OverCurrent");
        if (bit(motors, 3)) {
            line("RightWheel Overcurrent");
            sink_.requestStop();
        }
        if (bit(motors, 4)) {
            line("LeftWheel Overcurrent");
            sink_.requestStop();
        }

        if (p_[8] != 0)
            numberLine("Left Dirt Sensor = ", p_[8]);
        if (p_[9] != 0)
            numberLine("Right Dirt Sensor = ", p_[9]);
        if (p_[10] != 255)
            numberLine("Remote Control Command = ", p_[10]);

        const std::uint8_t buttons = p_[11];
        if (bit(buttons, 0))
            line("Max button pressed");
        if (bit(buttons, 1))
            line("Clean button pressed");
        if (bit(buttons, 2))
            line("Spot button pressed");
        if (bit(buttons, 3))
            line("Power button pressed");

        numberLine("Distance = ", s16(12));
        numberLine("Angle = ", s16(14));

        // Unknown states get no name and no line end, so the voltage continues this line.
        out_ += "Charging State = ";
        if (p_[16] < std::size(kChargingStates))
            line(kChargingStates[p_[16]]);

        numberLine("Voltage: ", u16(17), "mv");
        numberLine("Battery Current Draw: ", s16(19));
        numberLine("Temperature: ", static_cast<std::int8_t>(p_[21]), "C");
        numberLine("Charge: ", u16(22), "maH");
        numberLine("Capacity: ", u16(24), "maH");
        out_ += kEol;
        line("End Sensor Data");
    }

private:
    static bool bit(std::uint8_t byte, int n) { return ((byte >> n) & 1U) != 0; }

    std::uint16_t u16(std::size_t at) const
    {
        return static_cast<std::uint16_t>((p_[at] << 8) | p_[at + 1]);
    }
    std::int16_t s16(std::size_t at) const { return static_cast<std::int16_t>(u16(at)); }

    void line(std::string_view text)
    {
        out_ += text;
        out_ += kEol;
    }

    void cliff(std::uint8_t byte, std::string_view text)
    {
        if (bit(byte, 0)) {
            line(text);
            sink_.requestStop();
        }
    }

    void numberLine(std::string_view label, int value, std::string_view unit = {})
    {
        char digits[12];
        const auto res = std::to_chars(std::begin(digits), std::end(digits), value);
        out_ += label;
        out_.append(digits, res.ptr);
        out_ += unit;
        out_ += kEol;
    }

    const SensorPacket &p_;
    SensorEventSink &sink_;
    SensorReport &out_;
};

} // namespace

OutOfStep outOfStep(const SensorPacket &packet)
{
    if (packet[16] > kLastChargingState)
        return OutOfStep::ChargingState;
    const unsigned voltage = (unsigned{packet[17]} << 8) | packet[18];
    if (voltage < kMinRunningVoltageMv || voltage > kMaxRunningVoltageMv)
        return OutOfStep::Voltage;
    return OutOfStep::No;
}

void DecodeSensorPacketInto(const SensorPacket &packet, SensorEventSink &sink, SensorReport &report)
{
    report.clear();
    report.reserve(kReportReserve);
    Walk(packet, sink, report).run();
}

SensorReport DecodeSensorPacket(const SensorPacket &packet, SensorEventSink &sink)
{
    SensorReport report;
    DecodeSensorPacketInto(packet, sink, report);
    return report;
}

} // namespace velmora::sci
