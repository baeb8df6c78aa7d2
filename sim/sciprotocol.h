#pragma once

// The robot's side of its serial command interface, written from the robot's
// published rules and kept apart from the console's encoder and decoder on purpose:
// a wrong table here must not be able to agree with a wrong table there.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::sim
{

enum class Mode : std::uint8_t { Off, Passive, Safe, Full };

const char *modeName(Mode mode);

constexpr std::uint8_t modeBit(Mode mode)
{
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(mode));
}

inline constexpr std::uint8_t kAnyMode = 0x0f;

enum class Op : std::uint8_t {
    Start = 128,
    Baud,
    Control,
    Safe,
    Full,
    Power,
    Spot,
    Clean,
    Max,
    Drive,
    Motors,
    Leds,
    Song,
    Play,
    Sensors,
    ForceSeekingDock,
};

struct OpInfo {
    Op op;
    const char *name;
    int dataBytes;         // fixed count; Song's count depends on its second data byte
    std::uint8_t obeyedIn; // modeBit()s
};

// nullptr for a byte that is not an opcode.
const OpInfo *opInfo(std::uint8_t byte);

inline constexpr int kSongMaxNotes = 16;
inline constexpr int kSongCount = 16;

// The rates behind the Baud command's codes 0 to 11.
std::optional<int> baudRate(int code);
bool isRobotBaudRate(int rate);
// "300, 600, ... 115200"
std::string robotBaudRates();

// Sensor packet 0 is the whole packet; codes 1 to 3 are slices of it.
inline constexpr std::size_t kPacketSize = 26;

struct PacketSlice {
    std::size_t first;
    std::size_t length;
};

std::optional<PacketSlice> packetSlice(int code);

inline constexpr double kWheelBaseMm = 258.0;
inline constexpr std::int16_t kRadiusStraight = -32768; // 0x8000 as a signed value

// Splits the byte stream into commands. Each opcode takes exactly its own count of
// data bytes, whatever their values, so the stream stays in step.
class SciFramer
{
public:
    enum class Result { Pending, Complete, NotOpcode };

    Result push(std::uint8_t byte);
    // The opcode and data bytes of the command that push() just completed.
    const std::vector<std::uint8_t> &command() const { return bytes_; }
    bool midCommand() const { return info_ != nullptr; }
    void reset();

private:
    std::vector<std::uint8_t> bytes_;
    const OpInfo *info_ = nullptr;
    std::size_t need_ = 0;
};

} // namespace velmora::sim
