#pragma once

#include "sim/autonomy.h"
#include "sim/battery.h"
#include "sim/drive.h"
#include "sim/sciprotocol.h"
#include "sim/world.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::sim
{

// What hands do to the robot, in the packet's own bit positions.
struct Hands {
    std::uint8_t bumps = 0;        // byte 0 bits 0 (right) and 1 (left)
    std::uint8_t wheelDrops = 0;   // byte 0 bits 2 (right), 3 (left), 4 (caster)
    std::uint8_t cliffs = 0;       // CliffBit: bytes 2 to 5
    std::uint8_t overcurrents = 0; // byte 7
    std::uint8_t buttons = 0;      // byte 11
    std::uint8_t dirtLeft = 0;
    std::uint8_t dirtRight = 0;
    std::uint8_t remote = 255; // 255: no command
};

// The robot: its command interface and modes, its body in the room, its battery, and
// the cleaning cycles it runs by itself. Time only moves through advanceTo().
class Robot
{
public:
    explicit Robot(bool asleep = false, const Room &room = Room{});
    // Its autonomy holds on to its world and events.
    Robot(const Robot &) = delete;
    Robot &operator=(const Robot &) = delete;

    struct Outcome {
        enum Kind { Pending, Command, Ignored } kind = Pending;
        std::string meaning;              // Command: what it was; Ignored: why
        std::vector<std::uint8_t> bytes;  // Command: opcode and data bytes
        std::vector<std::uint8_t> answer; // Sensors: the bytes to send back
        bool answered = false;
        bool obeyed = false; // Command: the mode obeys it
    };

    // One byte from the serial line, at the time last given to advanceTo().
    Outcome push(std::uint8_t byte);

    void advanceTo(double t);
    double time() const { return now_; }

    // The Device Detect input must stay low this long for its rising edge to wake the robot.
    // The published examples hold it for about 500 ms and name no minimum; an input that woke
    // on any dip would wake on noise, so a tenth of a second: far longer than a glitch, well
    // under the 500 ms a wake-up holds it for.
    static constexpr double kMinWakePulseSeconds = 0.1;

    // The level on the Device Detect input, active low: a sleeping robot wakes at the end of a
    // low pulse of at least kMinWakePulseSeconds.
    void setDeviceDetect(bool low);
    // Wakes a sleeping robot; how is for the trace. It then ignores everything for the wake
    // time, as it does asleep, and listens after.
    void wake(const std::string &how);
    void setWakeTime(double seconds) { wakeSeconds_ = seconds; }
    void sleep(const std::string &why);
    bool asleep() const { return asleep_; }
    // Woken, but its wake time not yet over at the time last given to advanceTo().
    bool waking() const { return !asleep_ && now_ < listensAt_; }
    double listensAt() const { return listensAt_; }
    Mode mode() const { return mode_; }
    const Autonomy &autonomy() const { return autonomy_; }
    Drive drive() const { return drive_; }
    bool moving() const;

    Hands &hands() { return hands_; }
    const Hands &hands() const { return hands_; }
    // Call after changing hands(): safe mode reacts at once.
    void handsChanged();

    void dock();
    void undock();
    bool docked() const { return docked_; }
    void place(const Pose &pose);

    World &world() { return world_; }
    const World &world() const { return world_; }
    Battery &battery() { return battery_; }
    const Battery &battery() const { return battery_; }

    // The 26-byte packet as it stands; reading it with clearOdometry clears distance and angle.
    std::array<std::uint8_t, kPacketSize> packet(bool clearOdometry);
    double pendingDistance() const { return distance_; }
    double pendingAngle() const { return angle_; }

    std::uint8_t motors() const { return motors_; }
    std::array<std::uint8_t, 3> leds() const { return leds_; }
    int songNotes(int song) const;
    int baudRate() const { return baud_; }
    // The speed it powers up with (the Baud command changes it later).
    void setPowerOnBaudRate(int rate) { baud_ = rate; }

    // Things that happened by themselves since the last call (safe-mode stops, docking ...).
    std::vector<std::string> takeEvents();

private:
    void execute(Outcome &out);
    void stepOnce(double dt);
    void safetyCheck();
    void startCycle(Cycle c);
    void toPassive();
    double draw(double vl, double vr) const;
    double currentDraw() const;
    void event(std::string text) { events_.push_back(std::move(text)); }

    World world_;
    Battery battery_;
    Hands hands_;
    SciFramer framer_;
    double now_ = 0;
    bool started_ = false; // the clock has been set once
    bool asleep_ = false;
    double wakeSeconds_ = 0;
    double listensAt_ = 0;
    bool wakeNoted_ = true; // the end of the last wake time is in the events
    bool detectLow_ = false;
    double lowSince_ = 0;
    Mode mode_ = Mode::Off;
    Drive drive_;
    std::uint8_t motors_ = 0;
    std::array<std::uint8_t, 3> leds_{};
    std::array<std::vector<std::uint8_t>, kSongCount> songs_{};
    int baud_ = 57600;
    bool docked_ = false;
    double distance_ = 0;
    double angle_ = 0;
    double autoLeft_ = 0; // wheel speeds of the last step, for what the motors draw
    double autoRight_ = 0;
    std::vector<std::string> events_;
    Autonomy autonomy_{world_, events_};
};

} // namespace velmora::sim
