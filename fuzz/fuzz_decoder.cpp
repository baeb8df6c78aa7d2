// libFuzzer target for the sensor packet decoder.
//   cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON
//   cmake --build build/fuzz --target fuzz_decoder && build/fuzz/fuzz/fuzz_decoder
//   -max_total_time=60
#include "protocol/sensordecoder.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace
{

class CountingSink : public velmora::sci::SensorEventSink
{
public:
    void showIndicator(velmora::sci::SensorIndicator) override { ++indicators; }
    void requestStop() override { ++stops; }
    int indicators = 0;
    int stops = 0;
};

int bitsSet(unsigned v)
{
    return __builtin_popcount(v);
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < velmora::sci::kSensorPacketSize)
        return 0;
    velmora::sci::SensorPacket p;
    std::memcpy(p.data(), data, p.size());

    CountingSink sink;
    const std::string report = velmora::sci::DecodeSensorPacket(p, sink);

    // Independent count of the stop conditions: bumps, four cliffs, the two drive wheels.
    const int expectedStops = bitsSet(p[0] & 0x03U) + (p[2] & 1) + (p[3] & 1) + (p[4] & 1) +
                              (p[5] & 1) + bitsSet(p[7] & 0x18U);
    check(sink.stops == expectedStops);
    check(sink.stops <= 8);
    check(sink.indicators == bitsSet(p[0] & 0x1FU));
    check(std::string_view(report).ends_with("\r\n\r\nEnd Sensor Data\r\n"));
    check(report.find('\0') == std::string::npos);
    return 0;
}
