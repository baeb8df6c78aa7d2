#include "sim/simulator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>

namespace velmora::sim
{

namespace
{

std::vector<std::string> words(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> out;
    std::string w;
    while (in >> w)
        out.push_back(w);
    return out;
}

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

std::string plural(std::size_t n, const char *one)
{
    return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

} // namespace

Simulator::Simulator(const Options &options, const Clock &clock, Trace &trace)
    : options_(options), clock_(clock), trace_(trace), robot_(options.asleep),
      byteSeconds_(options.paceBaud > 0 ? kBitsPerByte / options.paceBaud : 0)
{
    const double now = clock_.now();
    robot_.advanceTo(now);
    if (options_.pose)
        robot_.place(*options_.pose);
    robot_.takeEvents();
    if (options_.faults.unplugAfterMs >= 0)
        unplugAt_ = now + options_.faults.unplugAfterMs / 1000.0;
}

void Simulator::advance()
{
    const double now = clock_.now();
    robot_.advanceTo(now);
    drainEvents(now);
}

void Simulator::drainEvents(double now)
{
    for (const std::string &e : robot_.takeEvents())
        trace_.info(now, e);
}

void Simulator::flushIgnored(double now)
{
    if (ignored_.empty())
        return;
    trace_.rx(now, ignored_,
              "Ignored " + plural(ignored_.size(), "byte") + " (" + ignoredWhy_ + ")");
    ignored_.clear();
}

void Simulator::receive(const std::uint8_t *data, std::size_t size)
{
    const double now = clock_.now();
    robot_.advanceTo(now);
    drainEvents(now);
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        switch (adapter_.push(b)) {
        case BluetoothAdapter::Result::Consumed:
            break;
        case BluetoothAdapter::Result::ToRobot: {
            Robot::Outcome out = robot_.push(b);
            if (out.kind == Robot::Outcome::Ignored) {
                if (out.meaning != ignoredWhy_)
                    flushIgnored(now);
                ignoredWhy_ = out.meaning;
                ignored_.push_back(b);
            } else if (out.kind == Robot::Outcome::Command) {
                flushIgnored(now);
                trace_.rx(now, out.bytes, out.meaning);
                drainEvents(now);
                if (out.answered)
                    queueAnswer(out.bytes[1], std::move(out.answer));
            }
            break;
        }
        case BluetoothAdapter::Result::LineDone: {
            const BluetoothAdapter::Line &line = adapter_.line();
            // The escape's '+' reached the robot, which ignored them; the escape's own line
            // shows them, so they are not listed twice.
            if (line.escape && ignored_.size() >= 3 && ignored_.back() == '+' &&
                ignored_.end()[-2] == '+' && ignored_.end()[-3] == '+')
                ignored_.resize(ignored_.size() - 3);
            flushIgnored(now);
            trace_.rx(now, line.bytes, line.meaning);
            if (line.wakePulse)
                robot_.wake();
            drainEvents(now);
            if (options_.adapterReplies && !line.reply.empty()) {
                queueWrite(now, std::vector<std::uint8_t>(line.reply.begin(), line.reply.end()),
                           "AT reply " + line.reply.substr(0, line.reply.size() - 2));
            }
            break;
        }
        }
    }
    flushIgnored(now);
}

void Simulator::queueAnswer(int code, std::vector<std::uint8_t> answer)
{
    const double now = clock_.now();
    const Faults &f = options_.faults;
    std::string what = "Sensors packet " + std::to_string(code) + " answer";
    ++answers_;
    if (f.dropEvery > 0 && answers_ % f.dropEvery == 0) {
        trace_.info(now, what + " left out (drop-every " + std::to_string(f.dropEvery) + ")");
        return;
    }
    std::vector<std::uint8_t> run(static_cast<std::size_t>(f.strayBefore), kStrayByte);
    std::string notes = " (" + plural(answer.size(), "byte");
    if (f.strayBefore > 0)
        notes += ", " + std::to_string(f.strayBefore) + " stray before";
    run.insert(run.end(), answer.begin(), answer.end());
    if (f.extraByte) {
        run.push_back(kExtraByte);
        notes += ", extra byte";
    }
    if (f.strayAfter > 0) {
        run.insert(run.end(), static_cast<std::size_t>(f.strayAfter), kStrayByte);
        notes += ", " + std::to_string(f.strayAfter) + " stray after";
    }
    if (f.delayMs > 0)
        notes += ", delayed " + std::to_string(f.delayMs) + " ms";
    notes += ")";
    const double due = now + f.delayMs / 1000.0;
    if (f.splitFirst <= 0) {
        queueWrite(due, std::move(run), what + notes);
        return;
    }
    std::vector<std::pair<std::size_t, std::size_t>> pieces;
    std::size_t at = 0;
    std::size_t size = static_cast<std::size_t>(f.splitFirst);
    while (at < run.size()) {
        const std::size_t n = std::min(size, run.size() - at);
        pieces.emplace_back(at, n);
        at += n;
        size = static_cast<std::size_t>(f.splitRest);
    }
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const auto first = run.begin() + static_cast<std::ptrdiff_t>(pieces[k].first);
        queueWrite(
            due + static_cast<double>(k) * f.gapMs / 1000.0,
            std::vector<std::uint8_t>(first, first + static_cast<std::ptrdiff_t>(pieces[k].second)),
            what + notes + ", piece " + std::to_string(k + 1) + " of " +
                std::to_string(pieces.size()));
    }
}

void Simulator::queueWrite(double due, std::vector<std::uint8_t> bytes, std::string meaning)
{
    if (!lineUp_ || bytes.empty())
        return;
    // The line is a queue: nothing overtakes an earlier write.
    if (!writes_.empty())
        due = std::max(due, writes_.back().due);
    writes_.push_back({due, std::move(bytes), std::move(meaning)});
}

// Paced, the line is a transmitter: byte after byte, each arriving whole a byte's time after
// the line was free for it. The times follow that grid rather than when the owner came round,
// so a late wake-up hands over the bytes that are due together and the pace is kept.
double Simulator::nextByteAt() const
{
    const Write &w = writes_.front();
    return byteSeconds_ > 0 ? std::max(w.due, lineFreeAt_) + byteSeconds_ : w.due;
}

std::size_t Simulator::dueBytes() const
{
    if (writes_.empty())
        return 0;
    const Write &w = writes_.front();
    const double now = clock_.now();
    const std::size_t left = w.bytes.size() - frontSent_;
    if (byteSeconds_ <= 0)
        return w.due <= now ? left : 0;
    const double start = std::max(w.due, lineFreeAt_);
    std::size_t n = 0;
    while (n < left && start + static_cast<double>(n + 1) * byteSeconds_ <= now)
        ++n;
    return n;
}

void Simulator::sent(std::size_t n)
{
    if (writes_.empty())
        return;
    const Write &w = writes_.front();
    n = std::min(n, w.bytes.size() - frontSent_);
    if (byteSeconds_ > 0)
        lineFreeAt_ = std::max(w.due, lineFreeAt_) + static_cast<double>(n) * byteSeconds_;
    frontSent_ += n;
    if (frontSent_ < w.bytes.size())
        return;
    trace_.tx(clock_.now(), w.bytes, w.meaning);
    writes_.pop_front();
    frontSent_ = 0;
}

void Simulator::dropWrite(const std::string &why)
{
    if (writes_.empty())
        return;
    trace_.info(clock_.now(), writes_.front().meaning + " not sent: " + why);
    writes_.pop_front();
    frontSent_ = 0;
}

double Simulator::nextDeadline(bool lineWritable) const
{
    double t = kNever;
    if (!writes_.empty() && lineWritable)
        t = nextByteAt();
    if (lineUp_)
        t = std::min(t, unplugAt_);
    else
        t = std::min(t, replugAt_);
    // While the robot moves, look often enough that safe-mode stops and bumps are traced on time.
    if (robot_.moving())
        t = std::min(t, clock_.now() + 0.02);
    return t;
}

void Simulator::lineDown(const std::string &why)
{
    const double now = clock_.now();
    if (!lineUp_)
        return;
    lineUp_ = false;
    unplugAt_ = kNever;
    replugAt_ =
        options_.faults.replugAfterMs >= 0 ? now + options_.faults.replugAfterMs / 1000.0 : kNever;
    std::string text = "line unplugged (" + why + ")";
    if (!writes_.empty())
        text += ": " + plural(writes_.size(), "write") + " not sent";
    writes_.clear();
    frontSent_ = 0;
    lineFreeAt_ = 0;
    trace_.info(now, text);
}

void Simulator::lineUp(const std::string &device)
{
    const double now = clock_.now();
    device_ = device;
    if (lineUp_)
        return;
    lineUp_ = true;
    replugAt_ = kNever;
    const Faults &f = options_.faults;
    if (f.unplugAfterMs >= 0 && f.replugAfterMs >= 0)
        unplugAt_ = now + f.unplugAfterMs / 1000.0;
    trace_.info(now, "line plugged in again on " + device);
}

std::string Simulator::help()
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

std::string Simulator::hands(const std::vector<std::string> &w, bool &known)
{
    known = true;
    Hands &h = robot_.hands();
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
        robot_.handsChanged();
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
        robot_.dock();
        return "on the dock";
    }
    if (cmd == "undock" && w.size() == 1) {
        robot_.undock();
        return "off the dock";
    }
    if (cmd == "place") {
        const auto x = w.size() == 4 ? parseNumber(w[1], 0, 100000) : std::nullopt;
        const auto y = w.size() == 4 ? parseNumber(w[2], 0, 100000) : std::nullopt;
        const auto d = w.size() == 4 ? parseNumber(w[3], -360, 360) : std::nullopt;
        if (!x || !y || !d)
            return "usage: place X Y DEG";
        robot_.place({static_cast<double>(*x), static_cast<double>(*y),
                      static_cast<double>(*d) * std::numbers::pi / 180});
        const Pose &p = robot_.world().pose();
        return "placed at " + std::to_string(std::lround(p.x)) + "," +
               std::to_string(std::lround(p.y));
    }
    if (cmd == "battery") {
        const auto n = w.size() == 2 ? parseNumber(arg, 0, Battery::kCapacityMah) : std::nullopt;
        if (!n)
            return "usage: battery MAH (0-2700)";
        robot_.battery().setCharge(static_cast<double>(*n));
        return "charge " + std::to_string(*n) + " mAh";
    }
    if (cmd == "chargeerror" && w.size() == 2 && (arg == "on" || arg == "off")) {
        robot_.battery().setChargeError(arg == "on");
        return "charge error " + arg;
    }
    if (cmd == "wake" && w.size() == 1) {
        robot_.wake();
        return robot_.asleep() ? "still asleep" : "awake";
    }
    known = false;
    return {};
}

Simulator::Reply Simulator::command(const std::string &line)
{
    const std::vector<std::string> w = words(line);
    if (w.empty())
        return {};
    const double now = clock_.now();
    robot_.advanceTo(now);
    drainEvents(now);
    const std::string &cmd = w[0];
    if (cmd == "help" || cmd == "?")
        return {help()};
    if (cmd == "status")
        return {status()};
    if (cmd == "quit" || cmd == "exit")
        return {"bye", Action::Quit};
    if (cmd == "unplug")
        return {lineUp_ ? "unplugging" : "already unplugged",
                lineUp_ ? Action::Unplug : Action::None};
    if (cmd == "replug")
        return {lineUp_ ? "already plugged in" : "plugging in",
                lineUp_ ? Action::None : Action::Replug};
    if (cmd == "fault") {
        if (w.size() == 1)
            return {"faults: " + options_.faults.describe()};
        const std::string err = parseFaults({w.begin() + 1, w.end()}, options_.faults);
        if (!err.empty())
            return {"fault: " + err};
        // An unplug time given now counts from now.
        const int unplugAfter = options_.faults.unplugAfterMs;
        if (line.find("unplug-after") != std::string::npos || w[1] == "off")
            unplugAt_ = unplugAfter >= 0 ? now + unplugAfter / 1000.0 : kNever;
        trace_.info(now, "faults: " + options_.faults.describe());
        return {"faults: " + options_.faults.describe()};
    }
    bool known = false;
    const std::string reply = hands(w, known);
    if (!known)
        return {"unknown command \"" + cmd + "\"; type help"};
    trace_.info(now, "hands: " + line + " -> " + reply);
    drainEvents(now);
    return {reply};
}

std::string Simulator::status() const
{
    const Robot &r = robot_;
    const Hands &h = r.hands();
    const Battery &b = r.battery();
    const Pose &p = r.world().pose();
    const World &world = r.world();
    std::ostringstream s;
    s << "line: port " << options_.port << (lineUp_ ? " on " + device_ : std::string(" unplugged"));
    if (options_.paceBaud > 0)
        s << ", paced at " << options_.paceBaud << " baud";
    s << "\n";
    s << "robot: " << (r.asleep() ? "asleep" : "awake") << ", " << modeName(r.mode())
      << " mode, drive " << describeDrive(r.drive()) << ", motors " << int(r.motors()) << ", cycle "
      << cycleName(r.autonomy().cycle())
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
    s << "adapter: \"" << adapter_.name() << "\", " << (adapter_.commandMode() ? "command" : "data")
      << " mode, pin 6 " << (adapter_.pinOutput() ? "output" : "input")
      << (options_.adapterReplies ? ", answers AT lines" : "") << "\n";
    s << "faults: " << options_.faults.describe() << "\n";
    return s.str();
}

} // namespace velmora::sim
