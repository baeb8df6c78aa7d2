// libFuzzer target for the sensor packet decoder. The fields, the stop rule, the indicators and
// the report are each derived on their own; this checks them against the raw bytes and against
// each other, through a table of the packet's flags written here apart from the decoder.
//   cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVELMORA_FUZZ=ON
//   cmake --build build/fuzz --target fuzz_decoder && build/fuzz/fuzz/fuzz_decoder
//   -max_total_time=60
#include "protocol/sensordecoder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace
{

namespace sci = velmora::sci;
using sci::SensorData;
using sci::SensorIndicator;
using sci::StopCondition;

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_decoder: %s\n", what);
        std::abort();
    }
}

// Each flag: where it is sent, the field it is read into, its report line, and the stop and
// indicator it brings, if any. In the report's order.
struct Flag {
    int byte;
    int bit;
    bool SensorData::*field;
    std::string_view line;
    std::optional<StopCondition> stop;
    std::optional<SensorIndicator> indicator;
};
const Flag kFlags[] = {
    {0, 0, &SensorData::bumpRight, "Bump Right", StopCondition::BumpRight,
     SensorIndicator::BumpRight},
    {0, 1, &SensorData::bumpLeft, "Bump Left", StopCondition::BumpLeft, SensorIndicator::BumpLeft},
    {0, 2, &SensorData::wheeldropRight, "Wheeldrop Right", {}, SensorIndicator::WheeldropRight},
    {0, 3, &SensorData::wheeldropLeft, "Wheeldrop Left", {}, SensorIndicator::WheeldropLeft},
    {0, 4, &SensorData::wheeldropCaster, "Wheeldrop Caster", {}, SensorIndicator::Caster},
    {1, 0, &SensorData::wall, "Wall is on right", {}, {}},
    {2, 0, &SensorData::cliffLeft, "Left Cliff", StopCondition::CliffLeft, {}},
    {3, 0, &SensorData::cliffFrontLeft, "Front Left Cliff", StopCondition::CliffFrontLeft, {}},
    {4, 0, &SensorData::cliffFrontRight, "Front Right Cliff", StopCondition::CliffFrontRight, {}},
    {5, 0, &SensorData::cliffRight, "Right Cliff", StopCondition::CliffRight, {}},
    {6, 0, &SensorData::virtualWall, "Virtual Wall is near", {}, {}},
    {7, 0, &SensorData::sideBrushOvercurrent, "SideBrush OverCurrent", {}, {}},
    {7, 1, &SensorData::vacuumOvercurrent, "Vacuum OverCurrent", {}, {}},
    {7, 2, &SensorData::mainBrushOvercurrent, "Main Brush OverCurrent", {}, {}},
    {7,
     3,
     &SensorData::rightWheelOvercurrent,
     "RightWheel Overcurrent",
     StopCondition::RightWheelOvercurrent,
     {}},
    {7,
     4,
     &SensorData::leftWheelOvercurrent,
     "LeftWheel Overcurrent",
     StopCondition::LeftWheelOvercurrent,
     {}},
    {11, 0, &SensorData::maxButton, "Max button pressed", {}, {}},
    {11, 1, &SensorData::cleanButton, "Clean button pressed", {}, {}},
    {11, 2, &SensorData::spotButton, "Spot button pressed", {}, {}},
    {11, 3, &SensorData::powerButton, "Power button pressed", {}, {}},
};

const Flag *flagOf(std::string_view line)
{
    for (const Flag &f : kFlags) {
        if (f.line == line)
            return &f;
    }
    return nullptr;
}

std::vector<std::string_view> linesOf(std::string_view report)
{
    std::vector<std::string_view> lines;
    std::size_t eol;
    while ((eol = report.find("\r\n")) != std::string_view::npos) {
        lines.push_back(report.substr(0, eol));
        report.remove_prefix(eol + 2);
    }
    check(report.empty(), "the report does not end with a line end");
    return lines;
}

int u16(const sci::SensorPacket &p, int at)
{
    return (p[static_cast<std::size_t>(at)] << 8) | p[static_cast<std::size_t>(at) + 1];
}

int s16(const sci::SensorPacket &p, int at)
{
    const int v = u16(p, at);
    return v >= 0x8000 ? v - 0x10000 : v;
}

bool has(const std::vector<std::string_view> &lines, const std::string &line)
{
    for (std::string_view l : lines) {
        if (l == line)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < sci::kSensorPacketSize)
        return 0;
    sci::SensorPacket p;
    std::memcpy(p.data(), data, p.size());

    const SensorData s = sci::decodeSensors(p);
    const sci::StopConditions stops = sci::stopConditions(s);
    const sci::SensorIndicators shown = sci::indicatorsOn(s);
    const std::string report = sci::DecodeSensorPacket(p);

    // The fields are the bytes.
    for (const Flag &f : kFlags)
        check(s.*f.field == (((p[static_cast<std::size_t>(f.byte)] >> f.bit) & 1) != 0),
              "a flag is not its bit");
    check(s.dirtLeft == p[8] && s.dirtRight == p[9] && s.remoteOpcode == p[10],
          "a one-byte number is not its byte");
    check(s.distanceMm == s16(p, 12) && s.angle == s16(p, 14), "distance or angle misread");
    check(s.chargingState == p[16] && s.voltageMv == u16(p, 17) && s.currentMa == s16(p, 19) &&
              s.temperatureC == (p[21] >= 128 ? p[21] - 256 : p[21]) && s.chargeMah == u16(p, 22) &&
              s.capacityMah == u16(p, 24),
          "a battery number misread");

    // The report's flag lines are the flags that are on, once each, in order; the stops and
    // indicators are those of the same lines, in the same order.
    check(report.find('\0') == std::string::npos, "a NUL in the report");
    check(std::string_view(report).ends_with("\r\n\r\nEnd Sensor Data\r\n"), "the report's end");
    const std::vector<std::string_view> lines = linesOf(report);
    const Flag *last = nullptr;
    const StopCondition *stop = stops.begin();
    const SensorIndicator *indicator = shown.begin();
    for (std::string_view line : lines) {
        const Flag *f = flagOf(line);
        if (!f)
            continue;
        check(last == nullptr || f > last, "flag lines repeated or out of order");
        last = f;
        check(s.*f->field, "a line for a flag that is off");
        if (f->stop) {
            check(stop != stops.end() && *stop == *f->stop, "a stop line without its stop");
            ++stop;
        }
        if (f->indicator) {
            check(indicator != shown.end() && *indicator == *f->indicator,
                  "an indicator line without its indicator");
            ++indicator;
        }
    }
    check(stop == stops.end(), "a stop without its line");
    check(indicator == shown.end(), "an indicator without its line");
    std::size_t flagsOn = 0;
    for (const Flag &f : kFlags)
        flagsOn += s.*f.field ? 1 : 0;
    std::size_t flagLines = 0;
    for (std::string_view line : lines)
        flagLines += flagOf(line) ? 1 : 0;
    check(flagLines == flagsOn, "a flag that is on has no line");
    check(stops.size() <= sci::kMaxStops, "more stops than conditions");

    // The numbers' lines.
    const auto line = [](const char *label, int value, const char *unit = "") {
        return label + std::to_string(value) + unit;
    };
    check(has(lines, line("Left Dirt Sensor = ", p[8])) == (p[8] != 0), "left dirt line");
    check(has(lines, line("Right Dirt Sensor = ", p[9])) == (p[9] != 0), "right dirt line");
    check(has(lines, line("Remote Control Command = ", p[10])) == (p[10] != 255), "remote line");
    check(has(lines, line("Distance = ", s16(p, 12))), "distance line");
    check(has(lines, line("Angle = ", s16(p, 14))), "angle line");
    // An unknown charging state has no name and no line end: the voltage goes on its line.
    const std::string voltage = line("Voltage: ", u16(p, 17), "mv");
    const std::string_view name = sci::chargingStateName(p[16]);
    check(name.empty() == (p[16] > 5), "charging state names");
    if (name.empty())
        check(has(lines, "Charging State = " + voltage), "unknown charging state's line");
    else
        check(has(lines, "Charging State = " + std::string(name)) && has(lines, voltage),
              "charging state or voltage line");
    check(has(lines, line("Battery Current Draw: ", s16(p, 19))), "current line");
    check(has(lines, line("Temperature: ", p[21] >= 128 ? p[21] - 256 : p[21], "C")),
          "temperature line");
    check(has(lines, line("Charge: ", u16(p, 22), "maH")), "charge line");
    check(has(lines, line("Capacity: ", u16(p, 24), "maH")), "capacity line");

    // Out of step only for what no robot sends.
    const bool inStep = p[16] <= 5 && u16(p, 17) >= 5000 && u16(p, 17) <= 25000;
    check((sci::outOfStep(s) == sci::OutOfStep::No) == inStep, "out of step misjudged");

    // The buffer-reusing form writes the same text over anything left in it.
    std::string reused = "left from before";
    sci::DecodeSensorPacketInto(s, reused);
    check(reused == report, "the reused buffer's report differs");
    return 0;
}
