// Sensor decoder throughput and heap allocations per packet.
//
//   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/release --target bench_decoder
//   build/release/bench/bench_decoder [seconds]
//
// Decodes a rotating set of packets a robot really sends (idle on the dock, driving, bumping,
// cliff and overcurrent, an unknown charging state) for a while after a warm-up, and prints
// packets per second for both entry points, with the heap allocations each packet makes.
#include "allocations.h"
#include "protocol/sensordecoder.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

using velmora::sci::SensorPacket;

// Counts what the console would act on, so the calls cannot be optimised away.
struct Counts {
    void add(const velmora::sci::SensorData &s)
    {
        indicators += static_cast<long long>(velmora::sci::indicatorsOn(s).size());
        stops += static_cast<long long>(velmora::sci::stopConditions(s).size());
    }
    long long indicators = 0;
    long long stops = 0;
};

const std::array<SensorPacket, 6> kPackets{{
    // Idle on the dock, charging, no remote.
    {0, 0, 0, 0, 0,    0,    0,    0,    0,  0,    255,  0,    0,
     0, 0, 0, 2, 0x3E, 0x80, 0x05, 0xDC, 28, 0x0A, 0x8C, 0x0A, 0x8C},
    // Driving straight, wall on the right, some dirt.
    {0,    1, 0, 0, 0,    0,    0,    0,    12, 3,    255,  0,    0,
     0x2A, 0, 0, 0, 0x3A, 0x98, 0xFD, 0x44, 31, 0x08, 0xFC, 0x0A, 0x8C},
    // Turning left, remote button, negative distance.
    {0,    0,    0,    0, 0,    0,    0,    0,    0,  0,    130,  0,    0xFF,
     0xF6, 0x00, 0x2D, 0, 0x39, 0xD0, 0xFC, 0x18, 30, 0x08, 0x98, 0x0A, 0x8C},
    // Bumped both sides, cliff, right wheel overcurrent: every stop at once.
    {3,    0, 1, 1, 0,  0,   0,   8,  0,  7, 255, 2,  0xFF,
     0xF6, 0, 5, 2, 62, 128, 254, 12, 25, 9, 196, 10, 140},
    // Lifted: all wheel drops and every cliff, brushes over current.
    {0x1C, 0, 1, 1, 1,    1,    1,    0x07, 0,  0,    255,  0,    0,
     0,    0, 0, 1, 0x3C, 0x00, 0x00, 0x64, 27, 0x09, 0xC4, 0x0A, 0x8C},
    // Charging state the table does not name.
    {0, 0, 0, 0, 0,    0,    0,    0,    0,  0,    255,  0,    0,
     0, 0, 0, 9, 0x3E, 0x80, 0x00, 0x00, 26, 0x0A, 0x8C, 0x0A, 0x8C},
}};

using Clock = std::chrono::steady_clock;

struct Result {
    double packetsPerSecond = 0;
    double allocationsPerPacket = 0;
};

template <typename Decode> Result measure(Decode decode, double seconds)
{
    constexpr long long kBatch = 4096;
    std::size_t next = 0;
    auto run = [&](long long count) {
        for (long long i = 0; i < count; ++i) {
            decode(kPackets[next]);
            next = next + 1 == kPackets.size() ? 0 : next + 1;
        }
    };

    run(kBatch * 16); // warm-up: caches, branch predictors, the reused buffer's capacity

    const long long before = heapAllocations();
    run(kBatch);
    Result result;
    result.allocationsPerPacket = static_cast<double>(heapAllocations() - before) / kBatch;

    long long done = 0;
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration<double>(seconds);
    Clock::time_point now;
    do {
        run(kBatch);
        done += kBatch;
        now = Clock::now();
    } while (now < until);
    result.packetsPerSecond =
        static_cast<double>(done) / std::chrono::duration<double>(now - start).count();
    return result;
}

void print(const char *name, const Result &r)
{
    std::printf("%-24s %12.0f packets/s  %6.2f heap allocations per packet\n", name,
                r.packetsPerSecond, r.allocationsPerPacket);
}

} // namespace

int main(int argc, char **argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    if (!(seconds > 0)) {
        std::fprintf(stderr, "usage: %s [seconds > 0]\n", argv[0]);
        return 2;
    }

    Counts counts;
    std::size_t reportBytes = 0;

    const Result fresh = measure(
        [&](const SensorPacket &p) {
            counts.add(velmora::sci::decodeSensors(p));
            reportBytes += velmora::sci::DecodeSensorPacket(p).size();
        },
        seconds);

    // As the console does it: one decode, the stops and indicators, the report into its buffer.
    std::string buffer;
    const Result reused = measure(
        [&](const SensorPacket &p) {
            const velmora::sci::SensorData s = velmora::sci::decodeSensors(p);
            counts.add(s);
            velmora::sci::DecodeSensorPacketInto(s, buffer);
            reportBytes += buffer.size();
        },
        seconds);

    print("DecodeSensorPacket", fresh);
    print("DecodeSensorPacketInto", reused);
    std::printf("(%zu packet kinds; %lld indicators, %lld stops, %zu report bytes)\n",
                kPackets.size(), counts.indicators, counts.stops, reportBytes);
    return 0;
}
