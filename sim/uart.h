#pragma once

#include <cstdint>
#include <vector>

namespace velmora::sim
{

// What a UART listening at readBaud makes of one burst of bytes sent back to back at sentBaud,
// 8 data bits, no parity, 1 stop bit, the line idle (high) before and after. The receiver
// waits for a falling edge, samples each bit in the middle of its own bit time, and drops a
// character whose stop bit it reads low (a framing error or a break). The same bytes and
// speeds always give the same result; at equal speeds the bytes come through unchanged.
std::vector<std::uint8_t> readAtWrongSpeed(const std::vector<std::uint8_t> &sent, int sentBaud,
                                           int readBaud);

} // namespace velmora::sim
