#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::sci
{

inline constexpr std::size_t kSensorPacketSize = 26;

// Sensor packet 0, in the order received.
using SensorPacket = std::array<std::uint8_t, kSensorPacketSize>;

// Decoded text of one packet; lines end in "\r\n".
using SensorReport = std::string;

enum class SensorIndicator { BumpRight, BumpLeft, WheeldropRight, WheeldropLeft, Caster };

// Called synchronously during the walk, right after the line that caused the call.
class SensorEventSink
{
public:
    virtual ~SensorEventSink() = default;
    virtual void showIndicator(SensorIndicator indicator) = 0;
    virtual void requestStop() = 0;
};

SensorReport DecodeSensorPacket(const SensorPacket &packet, SensorEventSink &sink);

// Same walk, writing into a caller-owned string (cleared first) so a poller can reuse its buffer.
void DecodeSensorPacketInto(const SensorPacket &packet, SensorEventSink &sink,
                            SensorReport &report);

} // namespace velmora::sci
