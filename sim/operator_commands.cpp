#include "sim/operator_commands.h"

#include "sim/simulator.h"

#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>

namespace velmora::sim
{

namespace
{

struct Named {
    const char *name;
    std::uint8_t bit;
};

// The word's bit from a table; nullopt if the word is not in it.
std::optional<std::uint8_t> lookup(std::initializer_list<Named> table, const std::string &word)
{
    for (const Named &n : table) {
        if (word == n.name)
            return n.bit;
    }
    return std::nullopt;
}

std::string names(std::initializer_list<Named> table, std::uint8_t bits)
{
    std::string s;
    for (const Named &n : table) {
        if (bits & n.bit) {
            if (!s.empty())
                s += '+';
            s += n.name;
        }
    }
    return s.empty() ? "off" : s;
}

constexpr std::initializer_list<Named> kWheelDrops{{"right", 4}, {"left", 8}, {"caster", 16}};
constexpr std::initializer_list<Named> kCliffs{{"left", kCliffLeft},
                                               {"frontleft", kCliffFrontLeft},
                                               {"frontright", kCliffFrontRight},
                                               {"right", kCliffRight}};
constexpr std::initializer_list<Named> kOvercurrents{
    {"side", 1}, {"vacuum", 2}, {"main", 4}, {"right", 8}, {"left", 16}};
constexpr std::initializer_list<Named> kButtons{
    {"max", 1}, {"clean", 2}, {"spot", 4}, {"power", 8}};
constexpr std::initializer_list<Named> kBumps{{"right", kBumpRight}, {"left", kBumpLeft}};

} // namespace

std::vector<std::string> splitWords(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> out;
    std::string w;
    while (in >> w)
        out.push_back(w);
    return out;
}

std::string operatorHelp()
{
    return "Commands:\n"
           "  bump left|right|both|off              press the bumper (held until off)\n"
           "  wheeldrop left|right|caster|off       lift a wheel (adds to those lifted)\n"
           "  cliff left|frontleft|frontright|right|off   put a cliff under a sensor\n"
           "  overcurrent left|right|side|main|vacuum|off  overload a motor\n"
           "  button max|clean|spot|power|off       hold a button down\n"
           "  dirt L R                              dirt detector readings 0-255\n"
           "  remote N|off                          remote-control byte 0-254 (off: 255)\n"
           "  dock | undock                         put the robot on its charger or take it off\n"
           "  place X Y DEG                         lift the robot and put it down (mm, mm, "
           "degrees)\n"
           "  battery MAH                           set the charge (0-2700 mAh)\n"
           "  chargeerror on|off                    make the charger report an error\n"
           "  wake                                  wake the robot as the Device Detect pulse "
           "does\n"
           "  unplug | replug                       pull the line out, plug it back in (new pty)\n"
           "  fault OPTIONS | fault off | fault     change, clear or show faults (as on the "
           "command line)\n"
           "  status                                show everything\n"
           "  help                                  this list\n"
           "  quit                                  remove the port link and exit\n";
}

std::optional<std::string> handsCommand(Robot &robot, const std::vector<std::string> &w)
{
    Hands &h = robot.hands();
    const std::string &cmd = w[0];
    const std::string arg = w.size() > 1 ? w[1] : "";
    auto setBits = [&](std::initializer_list<Named> table, std::uint8_t &field,
                       bool accumulate) -> std::string {
        if (w.size() != 2)
            return "usage: " + cmd + " " + names(table, 0xff) + "|off";
        if (arg == "off") {
            field = 0;
        } else if (cmd == "bump" && arg == "both") {
            field = kBumpLeft | kBumpRight;
        } else if (const auto bit = lookup(table, arg)) {
            field = accumulate ? static_cast<std::uint8_t>(field | *bit) : *bit;
        } else {
            return "usage: " + cmd + " " + names(table, 0xff) + "|off";
        }
        robot.handsChanged();
        return cmd + ": " + names(table, field);
    };
    if (cmd == "bump")
        return setBits(kBumps, h.bumps, false);
    if (cmd == "wheeldrop")
        return setBits(kWheelDrops, h.wheelDrops, true);
    if (cmd == "cliff")
        return setBits(kCliffs, h.cliffs, true);
    if (cmd == "overcurrent")
        return setBits(kOvercurrents, h.overcurrents, true);
    if (cmd == "button")
        return setBits(kButtons, h.buttons, true);
    if (cmd == "dirt") {
        const auto l = w.size() == 3 ? parseNumber(w[1], 0, 255) : std::nullopt;
        const auto r = w.size() == 3 ? parseNumber(w[2], 0, 255) : std::nullopt;
        if (!l || !r)
            return "usage: dirt L R (each 0-255)";
        h.dirtLeft = static_cast<std::uint8_t>(*l);
        h.dirtRight = static_cast<std::uint8_t>(*r);
        return "dirt: left " + std::to_string(*l) + ", right " + std::to_string(*r);
    }
    if (cmd == "remote") {
        const auto n = arg == "off" ? std::optional<long>(255) : parseNumber(arg, 0, 255);
        if (w.size() != 2 || !n)
            return "usage: remote N|off (0-255, off = 255 = no command)";
        h.remote = static_cast<std::uint8_t>(*n);
        return "remote: " + std::to_string(*n);
    }
    if (cmd == "dock" && w.size() == 1) {
        robot.dock();
        return "on the dock";
    }
    if (cmd == "undock" && w.size() == 1) {
        robot.undock();
        return "off the dock";
    }
    if (cmd == "place") {
        const auto x = w.size() == 4 ? parseNumber(w[1], 0, 100000) : std::nullopt;
        const auto y = w.size() == 4 ? parseNumber(w[2], 0, 100000) : std::nullopt;
        const auto d = w.size() == 4 ? parseNumber(w[3], -360, 360) : std::nullopt;
        if (!x || !y || !d)
            return "usage: place X Y DEG";
        robot.place({static_cast<double>(*x), static_cast<double>(*y),
                     static_cast<double>(*d) * std::numbers::pi / 180});
        const Pose &p = robot.world().pose();
        return "placed at " + std::to_string(std::lround(p.x)) + "," +
               std::to_string(std::lround(p.y));
    }
    if (cmd == "battery") {
        const auto n = w.size() == 2 ? parseNumber(arg, 0, Battery::kCapacityMah) : std::nullopt;
        if (!n)
            return "usage: battery MAH (0-2700)";
        robot.battery().setCharge(static_cast<double>(*n));
        return "charge " + std::to_string(*n) + " mAh";
    }
    if (cmd == "chargeerror" && w.size() == 2 && (arg == "on" || arg == "off")) {
        robot.battery().setChargeError(arg == "on");
        return "charge error " + arg;
    }
    if (cmd == "wake" && w.size() == 1) {
        robot.wake("hand");
        return robot.waking() ? "waking up: it ignores everything for its wake time" : "awake";
    }
    return std::nullopt;
}

std::string statusText(const Simulator &sim)
{
    const Options &options = sim.options();
    const Robot &r = sim.robot();
    const BluetoothAdapter &adapter = sim.adapter();
    const Hands &h = r.hands();
    const Battery &b = r.battery();
    const Pose &p = r.world().pose();
    const World &world = r.world();
    std::ostringstream s;
    s << "line: port " << options.port
      << (sim.isLineUp() ? " on " + sim.device() : std::string(" unplugged"));
    if (options.paceBaud > 0)
        s << ", paced at " << options.paceBaud << " baud";
    s << ", robot at " << r.baudRate() << " baud";
    if (sim.link() == Simulator::Link::Bluetooth)
        s << ", Bluetooth adapter at " << sim.farBaud() << " baud";
    else if (sim.lineBaud() > 0)
        s << ", other end at " << sim.lineBaud() << " baud";
    s << (sim.speedsDiffer() ? " (MISMATCH)" : "") << "\n";
    s << "robot: "
      << (options.off  ? "switched off"
          : r.asleep() ? "asleep"
          : r.waking() ? "waking up"
                       : "awake")
      << ", " << modeName(r.mode()) << " mode, drive " << describeDrive(r.drive()) << ", motors "
      << int(r.motors()) << ", cycle " << cycleName(r.autonomy().cycle())
      << (r.autonomy().seekingDock() ? " (seeking the dock)" : "")
      << (r.docked() ? ", on the dock" : "") << "\n";
    char pose[128];
    std::snprintf(pose, sizeof pose, "pose: x %.0f mm, y %.0f mm, heading %.1f deg%s\n", p.x, p.y,
                  p.heading * 180 / std::numbers::pi,
                  world.fallen() ? ", fallen down the stairs" : "");
    s << pose;
    s << "hands: bump " << names(kBumps, h.bumps) << ", wheeldrop "
      << names(kWheelDrops, h.wheelDrops) << ", cliff " << names(kCliffs, h.cliffs)
      << ", overcurrent " << names(kOvercurrents, h.overcurrents) << ", button "
      << names(kButtons, h.buttons) << ", dirt " << int(h.dirtLeft) << " " << int(h.dirtRight)
      << ", remote " << int(h.remote) << "\n";
    s << "room: bumpers " << names(kBumps, world.bumps()) << ", cliffs "
      << names(kCliffs, world.cliffs()) << ", wall " << (world.wall() ? "yes" : "no")
      << ", virtual wall " << (world.virtualWall() ? "yes" : "no") << "\n";
    char odo[96];
    std::snprintf(odo, sizeof odo, "since last read: distance %.1f mm, angle %.1f mm\n",
                  r.pendingDistance(), r.pendingAngle());
    s << odo;
    s << "battery: charging state " << int(b.state()) << ", " << b.voltageMv() << " mV, "
      << b.currentMa() << " mA, " << b.temperatureC() << " C, " << b.chargeMah() << " of "
      << Battery::kCapacityMah << " mAh\n";
    s << "adapter: \"" << adapter.name() << "\", " << (adapter.commandMode() ? "command" : "data")
      << " mode, pin 6 " << (adapter.pinOutput() ? "output" : "input")
      << (options.adapterReplies ? ", answers AT lines" : "") << "\n";
    s << "faults: " << options.faults.describe() << "\n";
    return s.str();
}

} // namespace velmora::sim
