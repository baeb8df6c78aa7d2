#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace velmora::sim
{

// The Drive command's velocity (mm/s) and radius (mm) as sent.
struct Drive {
    std::int16_t velocity = 0;
    std::int16_t radius = 0;
};

// Wheel speeds (mm/s) for a drive command as the robot reads it.
std::pair<double, double> wheelSpeeds(Drive drive);
// "255 mm/s straight", "255 mm/s radius -1 (turning in place clockwise)", ...
std::string describeDrive(Drive drive);

} // namespace velmora::sim
