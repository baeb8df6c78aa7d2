#include "protocol/sci.h"

namespace velmora::sci
{

namespace
{
enum Opcode : std::uint8_t {
    Start = 128,
    Control = 130,
    Power = 133,
    Spot = 134,
    Clean = 135,
    Max = 136,
    Drive = 137,
    Sensors = 142,
};

std::uint8_t hi(std::uint16_t v)
{
    return static_cast<std::uint8_t>(v >> 8);
}
std::uint8_t lo(std::uint16_t v)
{
    return static_cast<std::uint8_t>(v & 0xFF);
}
} // namespace

Sequence drive(std::int16_t velocity, std::uint16_t radius)
{
    const auto v = static_cast<std::uint16_t>(velocity);
    return {Drive, hi(v), lo(v), hi(radius), lo(radius)};
}

Sequence safeMode()
{
    return {Start, Control};
}
Sequence goFwd()
{
    return drive(255, kRadiusStraight);
}
Sequence goBack()
{
    return drive(-192, kRadiusStraight);
}
Sequence goLeft()
{
    return drive(255, 0);
}
Sequence goRight()
{
    return drive(255, 0xFFFF);
}
Sequence goStop()
{
    return drive(0, 0);
}
Sequence sciPower()
{
    return {Power};
}
Sequence sciSpot()
{
    return {Spot};
}
Sequence sciClean()
{
    return {Clean};
}
Sequence sciMax()
{
    return {Max};
}
Sequence sciStart()
{
    return {Start};
}
Sequence sciSensors()
{
    return {Sensors, 0};
}
Sequence sciRawByte(int value)
{
    return {static_cast<std::uint8_t>(value & 0xFF)};
}

bool sendSci(ByteWriter &port, const Sequence &sequence)
{
    return port.writeBytes(sequence);
}

} // namespace velmora::sci
