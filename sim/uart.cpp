#include "sim/uart.h"

namespace velmora::sim
{

namespace
{

constexpr long long kBitsPerChar = 10; // start, eight data bits, stop

// The sender's line in whole integer time units, so no sample is ever rounded onto the wrong
// side of an edge: one sent bit lasts sentBit units, one read bit readBit units.
class Waveform
{
public:
    Waveform(const std::vector<std::uint8_t> &bytes, long long sentBit)
        : bytes_(bytes), sentBit_(sentBit)
    {
    }
    // The level at time t: true is high. A bit starts at its boundary.
    bool level(long long t) const
    {
        if (t < 0)
            return true;
        const long long bit = t / sentBit_;
        const auto index = static_cast<std::size_t>(bit / kBitsPerChar);
        if (index >= bytes_.size())
            return true;
        const long long inChar = bit % kBitsPerChar;
        if (inChar == 0)
            return false;
        if (inChar == kBitsPerChar - 1)
            return true;
        return (bytes_[index] >> (inChar - 1)) & 1;
    }
    // The first falling edge at or after from, or -1: edges fall only on sent bit boundaries.
    long long fallingEdge(long long from) const
    {
        const long long end = static_cast<long long>(bytes_.size()) * kBitsPerChar;
        for (long long m = (from + sentBit_ - 1) / sentBit_; m <= end; ++m) {
            const long long t = m * sentBit_;
            if (!level(t) && level(t - 1))
                return t;
        }
        return -1;
    }

private:
    const std::vector<std::uint8_t> &bytes_;
    long long sentBit_;
};

} // namespace

std::vector<std::uint8_t> readAtWrongSpeed(const std::vector<std::uint8_t> &sent, int sentBaud,
                                           int readBaud)
{
    if (sentBaud == readBaud || sentBaud <= 0 || readBaud <= 0)
        return sent;
    // Units of 1 / (2 * sentBaud * readBaud) s: a sent bit is 2 * readBaud of them, a read bit
    // 2 * sentBaud, and the middle of a read bit falls on a whole unit.
    const long long sentBit = 2LL * readBaud;
    const long long readBit = 2LL * sentBaud;
    const Waveform line(sent, sentBit);
    std::vector<std::uint8_t> got;
    for (long long start = line.fallingEdge(0); start >= 0;) {
        auto sample = [&](long long bit) {
            return line.level(start + bit * readBit + readBit / 2);
        };
        if (sample(0)) {
            // Too short to be a start bit: look again from where it proved false.
            start = line.fallingEdge(start + readBit / 2);
            continue;
        }
        std::uint8_t value = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (sample(bit + 1))
                value = static_cast<std::uint8_t>(value | (1u << bit));
        }
        if (sample(kBitsPerChar - 1))
            got.push_back(value);
        start = line.fallingEdge(start + (kBitsPerChar - 1) * readBit + readBit / 2);
    }
    return got;
}

} // namespace velmora::sim
