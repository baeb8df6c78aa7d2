#include "sim/drive.h"

#include "sim/sciprotocol.h"

#include <algorithm>

namespace velmora::sim
{

namespace
{
constexpr int kMaxVelocity = 500;
constexpr int kMaxRadius = 2000;
} // namespace

std::pair<double, double> wheelSpeeds(Drive drive)
{
    const double v = std::clamp<int>(drive.velocity, -kMaxVelocity, kMaxVelocity);
    const int r = drive.radius;
    if (r == kRadiusStraight)
        return {v, v};
    if (r == -1)
        return {v, -v};
    if (r == 1 || r == 0) // 0 is undefined; taken as turning in place counter-clockwise
        return {-v, v};
    const double rc = std::clamp(r, -kMaxRadius, kMaxRadius);
    const double half = kWheelBaseMm / 2;
    return {v * (rc - half) / rc, v * (rc + half) / rc};
}

std::string describeDrive(Drive drive)
{
    const int v = drive.velocity;
    const int r = drive.radius;
    std::string s = std::to_string(v) + " mm/s";
    if (r == kRadiusStraight)
        s += " straight";
    else
        s += " radius " + std::to_string(r);
    if (v == 0)
        s += " (stop)";
    else if (r == -1)
        s += " (turning in place clockwise)";
    else if (r == 1)
        s += " (turning in place counter-clockwise)";
    else if (r == 0)
        s += " (undefined: turning in place counter-clockwise)";
    else if (r != kRadiusStraight)
        s += std::string(" mm (turning ") + (r > 0 ? "left" : "right") + ")";
    if (v > kMaxVelocity || v < -kMaxVelocity)
        s += " (velocity out of range: " + std::to_string(v > 0 ? kMaxVelocity : -kMaxVelocity) +
             " mm/s)";
    if (r != kRadiusStraight && (r > kMaxRadius || r < -kMaxRadius))
        s += " (radius out of range: " + std::to_string(r > 0 ? kMaxRadius : -kMaxRadius) + " mm)";
    return s;
}

} // namespace velmora::sim
