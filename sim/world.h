#pragma once

#include <cstdint>

namespace velmora::sim
{

// Millimetres and radians; heading counter-clockwise from the +x axis.
struct Pose {
    double x = 0;
    double y = 0;
    double heading = 0;
};

struct Rect {
    double x0, y0, x1, y1;
    bool contains(double x, double y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
};

// The room: walls all round, stairs going down in one corner, a virtual wall unit on the
// north wall whose beam reaches into the room, and the dock against the west wall.
struct Room {
    double width = 4000;
    double height = 3000;
    Rect dropOff{3000, 0, 4000, 800};
    double beamX = 1000;    // the beam runs south from the north wall ...
    double beamEndY = 1800; // ... down to here
    double beamHalfWidth = 100;
    Pose dock{200, 1500, 3.14159265358979323846};
    Pose start{2000, 1500, 0};
};

// Cliff sensor bits in the order of the packet's bytes 2 to 5.
enum CliffBit : std::uint8_t {
    kCliffLeft = 1,
    kCliffFrontLeft = 2,
    kCliffFrontRight = 4,
    kCliffRight = 8,
};

inline constexpr std::uint8_t kBumpRight = 1;
inline constexpr std::uint8_t kBumpLeft = 2;

// The robot's body in the room: moves by its wheels, stops at walls and reports what
// its bumpers and floor, wall and beam sensors see.
class World
{
public:
    static constexpr double kRobotRadius = 170;

    explicit World(const Room &room = Room{});

    const Room &room() const { return room_; }
    const Pose &pose() const { return pose_; }
    // Lifting the robot and putting it down somewhere clears a fall.
    void place(const Pose &pose);

    struct Travel {
        double left = 0; // mm each wheel really moved the robot
        double right = 0;
    };
    // Moves by wheel speeds (mm/s) for dt seconds. A wall stops the move at the contact
    // point; the bumpers report contact for as long as the wheels push into it.
    Travel step(double leftSpeed, double rightSpeed, double dt);

    std::uint8_t bumps() const { return bumps_; }
    std::uint8_t cliffs() const;
    bool wall() const;
    bool virtualWall() const;
    // Driven over the edge of the stairs: wheels hang, the robot goes nowhere.
    bool fallen() const { return fallen_; }
    double distanceTo(const Pose &p) const;

private:
    bool outside(double x, double y) const;

    Room room_;
    Pose pose_;
    std::uint8_t bumps_ = 0;
    bool fallen_ = false;
};

double normalizeAngle(double a);

} // namespace velmora::sim
