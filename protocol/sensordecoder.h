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

// Why 26 bytes cannot be a robot's packet 0, judged only by what no robot of the family can
// send: they are then out of step (stray bytes ahead of an answer, or the tail of another one),
// never a packet with odd values. Anything a real robot could send, however unusual (bits left
// unused, a hot battery, a charge above the capacity), is not refused: a refused packet is a
// stop that is not written.
enum class OutOfStep {
    No,
    ChargingState, // byte 16 above 5: the robot knows only states 0 to 5
    Voltage,       // bytes 17-18 outside what a robot's battery can show while it runs
};
OutOfStep outOfStep(const SensorPacket &packet);

// The battery's voltage while a robot of the family runs and answers: its pack is 14.4 V
// nominal (at most about 20 V at the end of a charge, 19.5 V for a fresh pack of primary
// cells); no robot runs, let alone answers, at 5 V, and nothing in it reaches 25 V.
inline constexpr unsigned kMinRunningVoltageMv = 5000;
inline constexpr unsigned kMaxRunningVoltageMv = 25000;
inline constexpr std::uint8_t kLastChargingState = 5;

SensorReport DecodeSensorPacket(const SensorPacket &packet, SensorEventSink &sink);

// Same walk, writing into a caller-owned string (cleared first) so a poller can reuse its buffer.
void DecodeSensorPacketInto(const SensorPacket &packet, SensorEventSink &sink,
                            SensorReport &report);

} // namespace velmora::sci
