#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::sim
{

inline constexpr std::uint8_t kStrayByte = 0xaa;
inline constexpr std::uint8_t kExtraByte = 0x00;

// Ways to make the line misbehave, from the command line or `fault ...` at run time
// (parsed with the other options), and how they shape the sensor answers.
struct Faults {
    int splitFirst = 0; // 0: answers go out whole
    int splitRest = 0;
    int gapMs = 0;
    int strayBefore = 0;
    int strayAfter = 0;
    int dropEvery = 0;
    int delayMs = 0;
    bool extraByte = false;
    int unplugAfterMs = -1; // -1: never
    int replugAfterMs = -1;

    std::string describe() const;
    // The nth answer (counted from 1) is left out.
    bool dropsAnswer(long nth) const { return dropEvery > 0 && nth % dropEvery == 0; }
};

struct AnswerWrite {
    double delaySeconds; // from when the answer was asked for
    std::vector<std::uint8_t> bytes;
    std::string meaning; // what, and how the faults shaped it
};

// An answer with its stray and extra bytes, delayed, and in pieces apart: its writes in order.
std::vector<AnswerWrite> shapeAnswer(const Faults &faults, const std::vector<std::uint8_t> &answer,
                                     const std::string &what);

} // namespace velmora::sim
