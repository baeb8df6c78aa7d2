#pragma once

#include "sim/faults.h"
#include "sim/world.h"

#include <optional>
#include <string>
#include <vector>

namespace velmora::sim
{

struct Options {
    int port = 99;
    bool asleep = false;
    // After a wake-up the robot ignores everything this long: the published examples wait
    // about 2 s before the first command.
    int wakeMs = 2000;
    bool adapterReplies = false;
    bool quiet = false;
    int paceBaud = 0; // 0: everything goes out at once
    int baud = 57600; // the robot's own line speed; one of the rates its Baud command knows
    bool off = false; // switched off or flat: nothing on the line is ever answered
    bool help = false;
    std::string traceFile;
    std::optional<Pose> pose; // heading in radians here; degrees on the command line
    Faults faults;
};

// Both return false and say in error what was wrong, as the rest of the simulator does; the
// settings are left as they were unless every option was understood.
bool parseOptions(const std::vector<std::string> &args, Options &options, std::string &error);
// Fault options as on the command line; at run time the leading "--" may be left out,
// and "off" alone clears every fault.
bool parseFaults(const std::vector<std::string> &args, Faults &faults, std::string &error);

std::string usage();

// A whole number in [lo, hi], nothing else.
std::optional<long> parseNumber(const std::string &text, long lo, long hi);

} // namespace velmora::sim
