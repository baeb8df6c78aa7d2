#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::sci
{

inline constexpr std::size_t kSensorPacketSize = 26;

// Sensor packet 0, in the order received.
using SensorPacket = std::array<std::uint8_t, kSensorPacketSize>;

inline constexpr std::uint8_t kNoRemoteOpcode = 255;
inline constexpr std::uint8_t kLastChargingState = 5;

// Packet 0 read into named fields, once; everything shown or done about a packet is derived
// from this, never from the bytes again. Bits the robot leaves unused are not kept.
struct SensorData {
    // Byte 0.
    bool bumpRight = false;
    bool bumpLeft = false;
    bool wheeldropRight = false;
    bool wheeldropLeft = false;
    bool wheeldropCaster = false;
    bool wall = false; // byte 1
    // Bytes 2 to 5.
    bool cliffLeft = false;
    bool cliffFrontLeft = false;
    bool cliffFrontRight = false;
    bool cliffRight = false;
    bool virtualWall = false; // byte 6
    // Byte 7.
    bool sideBrushOvercurrent = false;
    bool vacuumOvercurrent = false;
    bool mainBrushOvercurrent = false;
    bool rightWheelOvercurrent = false;
    bool leftWheelOvercurrent = false;
    std::uint8_t dirtLeft = 0;                   // byte 8
    std::uint8_t dirtRight = 0;                  // byte 9
    std::uint8_t remoteOpcode = kNoRemoteOpcode; // byte 10
    // Byte 11.
    bool maxButton = false;
    bool cleanButton = false;
    bool spotButton = false;
    bool powerButton = false;
    // Bytes 12 to 25; two-byte fields are sent high byte first.
    std::int16_t distanceMm = 0;
    std::int16_t angle = 0;
    std::uint8_t chargingState = 0; // 0 to kLastChargingState, or bytes out of step
    std::uint16_t voltageMv = 0;
    std::int16_t currentMa = 0;
    std::int8_t temperatureC = 0;
    std::uint16_t chargeMah = 0;
    std::uint16_t capacityMah = 0;

    bool operator==(const SensorData &) const = default;
};

SensorData decodeSensors(const SensorPacket &packet);

// "Not Charging" ... "Charging Error"; empty for a state the robot does not have.
std::string_view chargingStateName(std::uint8_t state);

// Up to N values in place: deriving them allocates nothing, so the stop path stays free of
// the heap.
template <typename T, std::size_t N> class Bounded
{
public:
    void push(T value)
    {
        if (size_ < N)
            items_[size_++] = value;
    }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const T *begin() const { return items_.data(); }
    const T *end() const { return items_.data() + size_; }

private:
    std::array<T, N> items_{};
    std::size_t size_ = 0;
};

// What makes the console stop the robot at once. In the report's order.
enum class StopCondition {
    BumpRight,
    BumpLeft,
    CliffLeft,
    CliffFrontLeft,
    CliffFrontRight,
    CliffRight,
    RightWheelOvercurrent,
    LeftWheelOvercurrent,
};
inline constexpr std::size_t kMaxStops = 8;
using StopConditions = Bounded<StopCondition, kMaxStops>;

// The safety rule: each condition that is on, once, in the report's order. One stop is
// written for each.
StopConditions stopConditions(const SensorData &sensors);

enum class SensorIndicator { BumpRight, BumpLeft, WheeldropRight, WheeldropLeft, Caster };
using SensorIndicators = Bounded<SensorIndicator, 5>;

// The labels to show, in the report's order.
SensorIndicators indicatorsOn(const SensorData &sensors);

// Why 26 bytes cannot be a robot's packet 0, judged only by what no robot of the family can
// send: they are then out of step (stray bytes ahead of an answer, or the tail of another one),
// never a packet with odd values. Anything a real robot could send, however unusual (bits left
// unused, a hot battery, a charge above the capacity), is not refused: a refused packet is a
// stop that is not written.
enum class OutOfStep {
    No,
    ChargingState, // above kLastChargingState: the robot knows only states 0 to 5
    Voltage,       // outside what a robot's battery can show while it runs
};
OutOfStep outOfStep(const SensorData &sensors);

// The battery's voltage while a robot of the family runs and answers: its pack is 14.4 V
// nominal (at most about 20 V at the end of a charge, 19.5 V for a fresh pack of primary
// cells); no robot runs, let alone answers, at 5 V, and nothing in it reaches 25 V.
inline constexpr unsigned kMinRunningVoltageMv = 5000;
inline constexpr unsigned kMaxRunningVoltageMv = 25000;

// Decoded text of one packet; lines end in "\r\n".
using SensorReport = std::string;

SensorReport DecodeSensorPacket(const SensorPacket &packet);

// The report of a decoded packet, written into a caller-owned string (cleared first) so a
// poller can reuse its buffer.
void DecodeSensorPacketInto(const SensorData &sensors, SensorReport &report);

} // namespace velmora::sci
