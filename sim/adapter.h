#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::sim
{

// The Bluetooth serial adapter between the line and the robot. In data mode it passes
// every byte on and watches for "+++" and a carriage return; in command mode it takes
// AT lines itself. Its pin 6 drives the robot's Device Detect input.
class BluetoothAdapter
{
public:
    static constexpr std::size_t kNameLimit = 16;
    static constexpr std::size_t kLineLimit = 256;

    explicit BluetoothAdapter(std::string name = "VelmoraSim") : name_(std::move(name)) {}

    struct Line {
        std::vector<std::uint8_t> bytes; // as received, carriage return included
        std::string meaning;
        std::string reply;   // what the adapter answers when it answers
        bool escape = false; // "+++" seen in data mode: its '+' went on to the robot too
    };

    enum class Result {
        ToRobot,  // data mode: the byte goes on to the robot
        Consumed, // command mode: part of a line not yet complete
        LineDone, // a line is complete: see line()
    };

    // In data mode a byte is passed on and may also complete the "+++" escape.
    Result push(std::uint8_t byte);
    const Line &line() const { return line_; }

    bool commandMode() const { return commandMode_; }
    const std::string &name() const { return name_; }
    bool pinOutput() const { return pinOutput_; }
    bool deviceDetectLow() const { return pinOutput_ && !pinLevel_; }

private:
    void finishLine();
    void execute(const std::string &text);

    std::string name_;
    bool commandMode_ = false;
    std::array<std::uint8_t, 4> recent_{};
    std::vector<std::uint8_t> pending_;
    bool overlong_ = false;
    bool pinOutput_ = false;
    bool pinLevel_ = true; // the line idles high
    Line line_;
};

} // namespace velmora::sim
