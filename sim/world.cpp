#include "sim/world.h"

#include "sim/sciprotocol.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velmora::sim
{

namespace
{

constexpr double kPi = std::numbers::pi;

double deg(double d)
{
    return d * kPi / 180.0;
}

// Sensors as points relative to the robot's centre: angle from the heading and reach.
struct SensorPoint {
    double angle;
    double reach;
};

constexpr double kCliffReach = 150;
const SensorPoint kCliffSensors[4] = {{deg(60), kCliffReach},
                                      {deg(20), kCliffReach},
                                      {deg(-20), kCliffReach},
                                      {deg(-60), kCliffReach}};
// The wall sensor looks out of the right side a little beyond the body.
const SensorPoint kWallSensor{deg(-90), World::kRobotRadius + 50};
const SensorPoint kBeamSensor{0, 130};
// Contact this close to straight ahead presses both halves of the bumper.
const double kBothBumpersWithin = deg(20);

} // namespace

double normalizeAngle(double a)
{
    a = std::fmod(a, 2 * kPi);
    if (a > kPi)
        a -= 2 * kPi;
    else if (a < -kPi)
        a += 2 * kPi;
    return a;
}

World::World(const Room &room) : room_(room), pose_(room.start) {}

void World::place(const Pose &pose)
{
    pose_ = pose;
    pose_.x = std::clamp(pose_.x, kRobotRadius, room_.width - kRobotRadius);
    pose_.y = std::clamp(pose_.y, kRobotRadius, room_.height - kRobotRadius);
    pose_.heading = normalizeAngle(pose_.heading);
    fallen_ = room_.dropOff.contains(pose_.x, pose_.y);
    bumps_ = 0;
}

World::Travel World::step(double leftSpeed, double rightSpeed, double dt)
{
    bumps_ = 0;
    if (fallen_ || dt <= 0)
        return {};
    const double dl = leftSpeed * dt;
    const double dr = rightSpeed * dt;
    const double dc = (dl + dr) / 2;
    const double dtheta = (dr - dl) / kWheelBaseMm;
    const double h0 = pose_.heading;
    double dx, dy;
    if (std::fabs(dtheta) < 1e-12) {
        dx = dc * std::cos(h0);
        dy = dc * std::sin(h0);
    } else {
        const double r = dc / dtheta;
        dx = r * (std::sin(h0 + dtheta) - std::sin(h0));
        dy = -r * (std::cos(h0 + dtheta) - std::cos(h0));
    }

    // The walls are axis-aligned, so the share of the move that fits is found per wall.
    struct Limit {
        double fraction;
        double wallDirection; // direction from the centre towards the wall
    };
    Limit limits[4];
    int n = 0;
    const double r = kRobotRadius;
    auto limitAxis = [&](double pos, double d, double lo, double hi, double dirLo, double dirHi) {
        if (d > 0 && pos + d > hi)
            limits[n++] = {std::max(0.0, (hi - pos) / d), dirHi};
        else if (d < 0 && pos + d < lo)
            limits[n++] = {std::max(0.0, (lo - pos) / d), dirLo};
    };
    limitAxis(pose_.x, dx, r, room_.width - r, kPi, 0);
    limitAxis(pose_.y, dy, r, room_.height - r, -kPi / 2, kPi / 2);

    double fraction = 1.0;
    for (int i = 0; i < n; ++i)
        fraction = std::min(fraction, limits[i].fraction);
    for (int i = 0; i < n; ++i) {
        // Only the front half carries a bumper; backing into a wall just stops.
        const double rel = normalizeAngle(limits[i].wallDirection - h0);
        if (std::fabs(rel) > kPi / 2)
            continue;
        if (std::fabs(rel) <= kBothBumpersWithin)
            bumps_ |= kBumpLeft | kBumpRight;
        else
            bumps_ |= rel > 0 ? kBumpLeft : kBumpRight;
    }

    pose_.x += dx * fraction;
    pose_.y += dy * fraction;
    pose_.heading = normalizeAngle(h0 + dtheta);
    if (room_.dropOff.contains(pose_.x, pose_.y))
        fallen_ = true;

    // A blocked move turns the wheels' shared part into slip; the turn itself still happens.
    const double moved = dc * fraction;
    const double turn = dtheta * kWheelBaseMm / 2;
    return {moved - turn, moved + turn};
}

bool World::outside(double x, double y) const
{
    return x < 0 || y < 0 || x > room_.width || y > room_.height;
}

std::uint8_t World::cliffs() const
{
    std::uint8_t bits = 0;
    for (int i = 0; i < 4; ++i) {
        const double a = pose_.heading + kCliffSensors[i].angle;
        const double x = pose_.x + kCliffSensors[i].reach * std::cos(a);
        const double y = pose_.y + kCliffSensors[i].reach * std::sin(a);
        if (fallen_ || room_.dropOff.contains(x, y))
            bits = static_cast<std::uint8_t>(bits | (1u << i));
    }
    return bits;
}

bool World::wall() const
{
    const double a = pose_.heading + kWallSensor.angle;
    return outside(pose_.x + kWallSensor.reach * std::cos(a),
                   pose_.y + kWallSensor.reach * std::sin(a));
}

bool World::virtualWall() const
{
    const double a = pose_.heading + kBeamSensor.angle;
    const double x = pose_.x + kBeamSensor.reach * std::cos(a);
    const double y = pose_.y + kBeamSensor.reach * std::sin(a);
    // Distance from the sensor to the beam segment, which runs along x = beamX.
    const double yc = std::clamp(y, room_.beamEndY, room_.height);
    return std::hypot(x - room_.beamX, y - yc) <= room_.beamHalfWidth;
}

double World::distanceTo(const Pose &p) const
{
    return std::hypot(pose_.x - p.x, pose_.y - p.y);
}

} // namespace velmora::sim
