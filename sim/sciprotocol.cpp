#include "sim/sciprotocol.h"

#include <algorithm>
#include <array>

namespace velmora::sim
{

namespace
{

constexpr std::uint8_t P = modeBit(Mode::Passive);
constexpr std::uint8_t S = modeBit(Mode::Safe);
constexpr std::uint8_t F = modeBit(Mode::Full);

// Opcodes 128 to 143, in order.
constexpr std::array<OpInfo, 16> kOps{{
    {Op::Start, "Start", 0, kAnyMode},
    {Op::Baud, "Baud", 1, P | S | F},
    {Op::Control, "Control", 0, P},
    {Op::Safe, "Safe", 0, F},
    {Op::Full, "Full", 0, S},
    // Robots are reported to obey Power and the cleaning cycles in passive mode too.
    {Op::Power, "Power", 0, P | S | F},
    {Op::Spot, "Spot", 0, P | S | F},
    {Op::Clean, "Clean", 0, P | S | F},
    {Op::Max, "Max", 0, P | S | F},
    {Op::Drive, "Drive", 4, S | F},
    {Op::Motors, "Motors", 1, S | F},
    {Op::Leds, "LEDs", 3, S | F},
    {Op::Song, "Song", 2, P | S | F},
    {Op::Play, "Play", 1, S | F},
    {Op::Sensors, "Sensors", 1, P | S | F},
    {Op::ForceSeekingDock, "Force-Seeking-Dock", 0, kAnyMode},
}};

constexpr std::array<int, 12> kBaudRates{300,   600,   1200,  2400,  4800,  9600,
                                         14400, 19200, 28800, 38400, 57600, 115200};

} // namespace

const char *modeName(Mode mode)
{
    switch (mode) {
    case Mode::Off:
        return "off";
    case Mode::Passive:
        return "passive";
    case Mode::Safe:
        return "safe";
    case Mode::Full:
        return "full";
    }
    return "?";
}

const OpInfo *opInfo(std::uint8_t byte)
{
    if (byte < 128 || byte > 143)
        return nullptr;
    return &kOps[static_cast<std::size_t>(byte - 128)];
}

std::optional<int> baudRate(int code)
{
    if (code < 0 || code >= static_cast<int>(kBaudRates.size()))
        return std::nullopt;
    return kBaudRates[static_cast<std::size_t>(code)];
}

bool isRobotBaudRate(int rate)
{
    return std::find(kBaudRates.begin(), kBaudRates.end(), rate) != kBaudRates.end();
}

std::string robotBaudRates()
{
    std::string s;
    for (int rate : kBaudRates)
        s += (s.empty() ? "" : ", ") + std::to_string(rate);
    return s;
}

std::optional<PacketSlice> packetSlice(int code)
{
    switch (code) {
    case 0:
        return PacketSlice{0, 26};
    case 1:
        return PacketSlice{0, 10};
    case 2:
        return PacketSlice{10, 6};
    case 3:
        return PacketSlice{16, 10};
    default:
        return std::nullopt;
    }
}

SciFramer::Result SciFramer::push(std::uint8_t byte)
{
    if (!info_) {
        const OpInfo *info = opInfo(byte);
        if (!info)
            return Result::NotOpcode;
        bytes_.assign(1, byte);
        info_ = info;
        need_ = static_cast<std::size_t>(info->dataBytes);
    } else {
        bytes_.push_back(byte);
        --need_;
        // Song: the second data byte is the number of notes, each a note and a duration.
        // A length outside 1 to 16 ends the command there.
        if (info_->op == Op::Song && bytes_.size() == 3 && byte >= 1 && byte <= kSongMaxNotes)
            need_ = 2u * byte;
    }
    if (need_ > 0)
        return Result::Pending;
    info_ = nullptr;
    return Result::Complete;
}

void SciFramer::reset()
{
    bytes_.clear();
    info_ = nullptr;
    need_ = 0;
}

} // namespace velmora::sim
