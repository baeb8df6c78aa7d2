#include "sim/robot.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

namespace velmora::sim
{

namespace
{

constexpr double kStep = 0.005; // s; fine enough that a wall or edge is met within ~2 mm
// Backing up counts as dangerous at a cliff when it turns tighter than the body itself.
constexpr double kSmallRadius = World::kRobotRadius;
constexpr double kDockedWithin = 30; // mm from the dock before the contacts part

constexpr double kAwakeDrawMa = 120;
constexpr double kAsleepDrawMa = 2;
constexpr double kWheelDrawPerMmS = 0.6;
constexpr double kSideBrushMa = 100;
constexpr double kVacuumMa = 300;
constexpr double kMainBrushMa = 400;

constexpr std::uint8_t kMotorSideBrush = 1;
constexpr std::uint8_t kMotorVacuum = 2;
constexpr std::uint8_t kMotorMainBrush = 4;
constexpr std::uint8_t kAllWheelDrops = 0x1c;

std::int16_t toInt16(std::uint8_t hi, std::uint8_t lo)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(hi << 8 | lo));
}

void put16(std::array<std::uint8_t, kPacketSize> &p, std::size_t at, int value)
{
    const auto v = static_cast<std::uint16_t>(value);
    p[at] = static_cast<std::uint8_t>(v >> 8);
    p[at + 1] = static_cast<std::uint8_t>(v & 0xff);
}

// Reads an accumulator: the whole millimetres go out (saturated), the fraction stays.
int takeCounter(double &acc)
{
    const double whole = std::round(acc);
    if (whole > 32767 || whole < -32768) {
        acc = 0;
        return whole > 0 ? 32767 : -32768;
    }
    acc -= whole;
    return static_cast<int>(whole);
}

// "2000 ms", to the millisecond.
std::string milliseconds(double seconds)
{
    return std::to_string(std::lround(seconds * 1000)) + " ms";
}

std::string bitNames(std::uint8_t bits, std::initializer_list<const char *> names)
{
    std::string s;
    unsigned i = 0;
    for (const char *n : names) {
        if (bits & (1u << i)) {
            if (!s.empty())
                s += ", ";
            s += n;
        }
        ++i;
    }
    return s.empty() ? "none" : s;
}

} // namespace

Robot::Robot(bool asleep, const Room &room) : world_(room), asleep_(asleep)
{
    battery_.setLoad(draw(0, 0), docked_);
}

bool Robot::moving() const
{
    if (asleep_)
        return false;
    if (autonomy_.running())
        return true;
    return (mode_ == Mode::Safe || mode_ == Mode::Full) && drive_.velocity != 0;
}

Robot::Outcome Robot::push(std::uint8_t byte)
{
    Outcome out;
    if (asleep_ || waking()) {
        out.kind = Outcome::Ignored;
        out.meaning = asleep_ ? "robot asleep" : "robot still waking up";
        return out;
    }
    switch (framer_.push(byte)) {
    case SciFramer::Result::Pending:
        return out;
    case SciFramer::Result::NotOpcode:
        out.kind = Outcome::Ignored;
        out.meaning = "not an opcode";
        return out;
    case SciFramer::Result::Complete:
        break;
    }
    out.kind = Outcome::Command;
    out.bytes = framer_.command();
    execute(out);
    return out;
}

// One case a command: what the trace calls it, whatever the mode, and what it does when the
// mode obeys it (the modes that do are in the opcode table).
void Robot::execute(Outcome &out)
{
    const std::vector<std::uint8_t> &cmd = out.bytes;
    const OpInfo *info = opInfo(cmd[0]);
    const bool obeyed = (info->obeyedIn & modeBit(mode_)) != 0;
    std::string what = info->name;
    auto data = [&](std::size_t i) -> int { return cmd[i]; };

    switch (info->op) {
    case Op::Start:
        if (obeyed)
            toPassive();
        break;
    case Op::Baud: {
        const auto rate = sim::baudRate(data(1));
        what += " code " + std::to_string(data(1)) +
                (rate ? " (" + std::to_string(*rate) + " baud)" : std::string(" (no such rate)"));
        if (obeyed && rate) {
            baud_ = *rate;
            toPassive();
        }
        break;
    }
    case Op::Control:
        if (obeyed) {
            autonomy_.end("taken over by Control");
            drive_ = {};
            motors_ = 0;
            mode_ = Mode::Safe;
            safetyCheck();
        }
        break;
    case Op::Safe:
        if (obeyed) {
            mode_ = Mode::Safe;
            safetyCheck();
        }
        break;
    case Op::Full:
        if (obeyed)
            mode_ = Mode::Full;
        break;
    case Op::Power:
        if (obeyed)
            sleep("Power command");
        break;
    case Op::Spot:
        if (obeyed)
            startCycle(Cycle::Spot);
        break;
    case Op::Clean:
        if (obeyed)
            startCycle(Cycle::Clean);
        break;
    case Op::Max:
        if (obeyed)
            startCycle(Cycle::Max);
        break;
    case Op::Drive: {
        const Drive d{toInt16(cmd[1], cmd[2]), toInt16(cmd[3], cmd[4])};
        what += " " + describeDrive(d);
        if (obeyed) {
            drive_ = d;
            safetyCheck();
        }
        break;
    }
    case Op::Motors:
        what += " " + std::to_string(data(1)) + " (" +
                bitNames(cmd[1] & 7, {"side brush", "vacuum", "main brush"}) + ")";
        if (obeyed)
            motors_ = cmd[1] & 7;
        break;
    case Op::Leds:
        what += " " + std::to_string(data(1)) + " (" +
                bitNames(cmd[1] & 0x3f,
                         {"dirt detect", "max", "clean", "spot", "status red", "status green"}) +
                "), power colour " + std::to_string(data(2)) + ", intensity " +
                std::to_string(data(3));
        if (obeyed)
            leds_ = {cmd[1], cmd[2], cmd[3]};
        break;
    case Op::Song: {
        const int n = data(2);
        const bool valid = n >= 1 && n <= kSongMaxNotes && data(1) < kSongCount;
        what += " " + std::to_string(data(1)) + " with " + std::to_string(n) + " notes";
        if (!valid)
            what += " (invalid: not stored)";
        else if (obeyed)
            songs_[static_cast<std::size_t>(data(1))].assign(cmd.begin() + 3, cmd.end());
        break;
    }
    case Op::Play: {
        const int song = data(1);
        const bool defined = song < kSongCount && !songs_[static_cast<std::size_t>(song)].empty();
        what += " song " + std::to_string(song) + (defined ? "" : " (not defined: silent)");
        break;
    }
    case Op::Sensors: {
        const auto slice = packetSlice(data(1));
        what += " packet " + std::to_string(data(1));
        if (!slice) {
            what += " (no such packet: not answered)";
        } else if (obeyed) {
            const auto full = packet(data(1) == 0 || data(1) == 2);
            out.answer.assign(full.begin() + static_cast<std::ptrdiff_t>(slice->first),
                              full.begin() +
                                  static_cast<std::ptrdiff_t>(slice->first + slice->length));
            out.answered = true;
        }
        break;
    }
    case Op::ForceSeekingDock:
        if (obeyed && !autonomy_.seekDock())
            what += " (no cleaning cycle: no effect)";
        break;
    }

    out.obeyed = obeyed;
    out.meaning = obeyed ? what : what + " (ignored in " + modeName(mode_) + " mode)";
}

void Robot::toPassive()
{
    mode_ = Mode::Passive;
    drive_ = {};
    motors_ = 0;
}

void Robot::startCycle(Cycle c)
{
    toPassive();
    autonomy_.start(c, docked_);
}

void Robot::sleep(const std::string &why)
{
    autonomy_.end("");
    asleep_ = true;
    wakeNoted_ = true;
    mode_ = Mode::Off;
    drive_ = {};
    motors_ = 0;
    framer_.reset();
    event("robot asleep (" + why + ")");
}

void Robot::wake(const std::string &how)
{
    if (!asleep_)
        return;
    asleep_ = false;
    mode_ = Mode::Off;
    framer_.reset();
    listensAt_ = now_ + wakeSeconds_;
    wakeNoted_ = wakeSeconds_ <= 0;
    event("robot woken by " + how +
          (wakeNoted_ ? std::string(": listening")
                      : ": it ignores everything for " + milliseconds(wakeSeconds_)));
}

void Robot::setDeviceDetect(bool low)
{
    if (low == detectLow_)
        return;
    detectLow_ = low;
    if (low) {
        lowSince_ = now_;
        return;
    }
    if (!asleep_)
        return;
    const double held = now_ - lowSince_;
    const std::string pulse = "a Device Detect pulse of " + milliseconds(held);
    // To the microsecond: the times are sums in floating point.
    if (held < kMinWakePulseSeconds - 1e-6) {
        event(pulse + ": too short to wake the robot (it needs " +
              milliseconds(kMinWakePulseSeconds) + "); still asleep");
        return;
    }
    wake(pulse);
}

void Robot::dock()
{
    world_.place(world_.room().dock);
    docked_ = true;
    safetyCheck();
    battery_.setLoad(currentDraw(), docked_);
}

void Robot::undock()
{
    docked_ = false;
    battery_.setLoad(currentDraw(), docked_);
}

void Robot::place(const Pose &pose)
{
    world_.place(pose);
    if (docked_ && world_.distanceTo(world_.room().dock) > kDockedWithin)
        docked_ = false;
    safetyCheck();
}

void Robot::handsChanged()
{
    safetyCheck();
}

double Robot::currentDraw() const
{
    if (!asleep_ && (mode_ == Mode::Safe || mode_ == Mode::Full)) {
        const auto [vl, vr] = wheelSpeeds(drive_);
        return draw(vl, vr);
    }
    return draw(autoLeft_, autoRight_);
}

double Robot::draw(double vl, double vr) const
{
    if (asleep_)
        return kAsleepDrawMa;
    double ma = kAwakeDrawMa + kWheelDrawPerMmS * (std::fabs(vl) + std::fabs(vr));
    std::uint8_t m = motors_;
    if (autonomy_.running())
        m = kMotorSideBrush | kMotorVacuum | kMotorMainBrush;
    if (m & kMotorSideBrush)
        ma += kSideBrushMa;
    if (m & kMotorVacuum)
        ma += kVacuumMa;
    if (m & kMotorMainBrush)
        ma += kMainBrushMa;
    return ma;
}

// Safe mode stops the motors and drops to passive on a wheel drop, a powered charger, or
// a cliff while driving forward (or backward turning tightly).
void Robot::safetyCheck()
{
    if (asleep_ || mode_ != Mode::Safe)
        return;
    const bool wheelDrop = (hands_.wheelDrops & kAllWheelDrops) != 0 || world_.fallen();
    const bool cliff = (hands_.cliffs | world_.cliffs()) != 0;
    const int v = drive_.velocity;
    const int r = drive_.radius;
    const bool tightBackward = v < 0 && r != kRadiusStraight && std::abs(r) < kSmallRadius;
    std::string why;
    if (wheelDrop)
        why = "wheel drop";
    else if (docked_)
        why = "charger connected";
    else if (cliff && v > 0)
        why = "cliff while driving forward";
    else if (cliff && tightBackward)
        why = "cliff while driving backward with a small radius";
    if (why.empty())
        return;
    toPassive();
    event("safe mode: " + why + ": motors stopped, to passive mode");
}

void Robot::advanceTo(double t)
{
    if (!started_) {
        started_ = true;
        now_ = t;
        return;
    }
    while (now_ < t) {
        const double next = std::min(now_ + kStep, t);
        stepOnce(next - now_);
        now_ = next;
    }
    if (!wakeNoted_ && !asleep_ && now_ >= listensAt_) {
        wakeNoted_ = true;
        event("robot listening: its wake time is over");
    }
}

void Robot::stepOnce(double dt)
{
    double vl = 0, vr = 0;
    if (!asleep_) {
        safetyCheck();
        if (mode_ == Mode::Safe || mode_ == Mode::Full)
            std::tie(vl, vr) = wheelSpeeds(drive_);
        else if (mode_ == Mode::Passive && autonomy_.running()) {
            const Autonomy::Step step = autonomy_.step(dt, battery_.chargeMah());
            vl = step.left;
            vr = step.right;
            docked_ = docked_ || step.docked;
        }
    }
    autoLeft_ = vl;
    autoRight_ = vr;
    const World::Travel travel = world_.step(vl, vr, dt);
    distance_ += (travel.left + travel.right) / 2;
    angle_ += (travel.right - travel.left) / 2;
    if (docked_ && world_.distanceTo(world_.room().dock) > kDockedWithin) {
        docked_ = false;
        event("left the dock");
    }
    if (!asleep_ && autonomy_.running())
        autonomy_.react();
    safetyCheck();

    battery_.setLoad(draw(vl, vr), docked_);
    battery_.step(dt);
    if (!asleep_ && battery_.empty() && !docked_)
        sleep("battery empty");
}

int Robot::songNotes(int song) const
{
    if (song < 0 || song >= kSongCount)
        return 0;
    return static_cast<int>(songs_[static_cast<std::size_t>(song)].size() / 2);
}

std::array<std::uint8_t, kPacketSize> Robot::packet(bool clearOdometry)
{
    std::array<std::uint8_t, kPacketSize> p{};
    std::uint8_t wheelDrops = hands_.wheelDrops & kAllWheelDrops;
    if (world_.fallen())
        wheelDrops = kAllWheelDrops;
    p[0] = static_cast<std::uint8_t>(((hands_.bumps | world_.bumps()) & 3) | wheelDrops);
    p[1] = world_.wall() ? 1 : 0;
    const std::uint8_t cliffs = hands_.cliffs | world_.cliffs();
    for (std::size_t i = 0; i < 4; ++i)
        p[2 + i] = static_cast<std::uint8_t>((cliffs >> i) & 1);
    p[6] = world_.virtualWall() ? 1 : 0;
    p[7] = hands_.overcurrents & 0x1f;
    p[8] = hands_.dirtLeft;
    p[9] = hands_.dirtRight;
    p[10] = hands_.remote;
    p[11] = hands_.buttons & 0x0f;
    if (clearOdometry) {
        put16(p, 12, takeCounter(distance_));
        put16(p, 14, takeCounter(angle_));
    }
    battery_.setLoad(currentDraw(), docked_);
    p[16] = battery_.state();
    put16(p, 17, battery_.voltageMv());
    put16(p, 19, battery_.currentMa());
    p[21] = static_cast<std::uint8_t>(static_cast<std::int8_t>(battery_.temperatureC()));
    put16(p, 22, battery_.chargeMah());
    put16(p, 24, Battery::kCapacityMah);
    return p;
}

std::vector<std::string> Robot::takeEvents()
{
    std::vector<std::string> out;
    out.swap(events_);
    return out;
}

} // namespace velmora::sim
