#pragma once

#include "sim/world.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::sim
{

enum class Cycle : std::uint8_t { None, Spot, Clean, Max };
const char *cycleName(Cycle c);

// The cleaning cycles the robot runs by itself in passive mode: spot spirals out and back,
// clean and max wander the room turning away from what they meet, and Force-Seeking-Dock
// heads for the dock. It moves the body in the world it is given and says what happened in
// the events it is given, both the robot's.
class Autonomy
{
public:
    Autonomy(World &world, std::vector<std::string> &events) : world_(world), events_(events) {}

    Cycle cycle() const { return cycle_; }
    bool running() const { return cycle_ != Cycle::None; }
    bool seekingDock() const { return seeking_; }

    // On the dock, the cycle starts by backing off it.
    void start(Cycle c, bool docked);
    // Ends a running cycle; an empty why leaves no event.
    void end(const std::string &why);
    // Force-Seeking-Dock: false, and no effect, when no cycle runs.
    bool seekDock();

    struct Step {
        double left = 0; // wheel speeds, mm/s
        double right = 0;
        bool docked = false; // it has just come to rest on the dock, and the cycle is over
    };
    // The wheel speeds for the next dt seconds; a cycle may end here (time up, battery low,
    // docked).
    Step step(double dt, double chargeMah);
    // After the body moved: bumped, at an edge or at the beam, back up and turn away.
    void react();

private:
    enum class Phase : std::uint8_t { Forward, Backup, Turn, SeekTurn, SeekDrive };

    World &world_;
    std::vector<std::string> &events_;
    Cycle cycle_ = Cycle::None;
    bool seeking_ = false;
    Phase phase_ = Phase::Forward;
    double cycleTime_ = 0;
    double phaseLeft_ = 0;
    int turnDir_ = 1;
    unsigned turnIndex_ = 0;
};

} // namespace velmora::sim
