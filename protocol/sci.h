#pragma once

#include <cstdint>
#include <vector>

namespace velmora::sci
{

// One SCI command as it goes on the wire: 1 to 5 bytes, written in one write.
using Sequence = std::vector<std::uint8_t>;

// Whatever carries bytes to the robot. One call must be one write.
class ByteWriter
{
public:
    virtual ~ByteWriter() = default;
    // Returns false when the bytes could not be handed over (port closed, device gone).
    virtual bool writeBytes(const Sequence &bytes) = 0;
};

// Builds a drive command: velocity in mm/s and radius in mm, both 16-bit, high byte first.
Sequence drive(std::int16_t velocity, std::uint16_t radius);

inline constexpr std::uint16_t kRadiusStraight = 0x8000;

Sequence safeMode(); // 128 130: Start, then Control
Sequence goFwd();    // drive +255 mm/s straight
Sequence goBack();   // drive -192 mm/s straight
Sequence goLeft();   // drive +255 mm/s, radius 0
Sequence goRight();  // drive +255 mm/s, radius -1 (turn in place clockwise)
Sequence goStop();   // drive 0, radius 0
Sequence sciPower();
Sequence sciSpot();
Sequence sciClean();
Sequence sciMax();
Sequence sciStart();
Sequence sciSensors(); // 142 0: the whole 26-byte packet
// The caller checks the range; only the low byte is kept.
Sequence sciRawByte(int value);

// Hands one sequence to the writer as one write, adding nothing.
bool sendSci(ByteWriter &port, const Sequence &sequence);

} // namespace velmora::sci
