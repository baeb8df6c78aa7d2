#include "sim/autonomy.h"

#include "sim/battery.h"
#include "sim/drive.h"
#include "sim/sciprotocol.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace velmora::sim
{

namespace
{

constexpr double kSpotSeconds = 60;
constexpr double kCleanSeconds = 900;
constexpr double kMaxStopsBelowMah = 0.05 * Battery::kCapacityMah;
constexpr double kCleanSpeed = 300;
constexpr double kSpotSpeed = 200;
constexpr double kBackupMm = 60;
constexpr double kLeaveDockMm = 300;
constexpr double kTurnWheelSpeed = 150;
constexpr double kSeekArrive = 15;
const double kTurnAngles[] = {2.2, 1.6, 2.8, 1.2};

} // namespace

const char *cycleName(Cycle c)
{
    switch (c) {
    case Cycle::None:
        return "none";
    case Cycle::Spot:
        return "spot";
    case Cycle::Clean:
        return "clean";
    case Cycle::Max:
        return "max";
    }
    return "?";
}

void Autonomy::start(Cycle c, bool docked)
{
    cycle_ = c;
    seeking_ = false;
    cycleTime_ = 0;
    phase_ = Phase::Forward;
    if (docked) {
        phase_ = Phase::Backup;
        phaseLeft_ = kLeaveDockMm;
    }
    events_.push_back(std::string(cycleName(c)) + " cycle started");
}

void Autonomy::end(const std::string &why)
{
    if (cycle_ == Cycle::None)
        return;
    if (!why.empty())
        events_.push_back(std::string(cycleName(cycle_)) + " cycle ended: " + why);
    cycle_ = Cycle::None;
    seeking_ = false;
}

bool Autonomy::seekDock()
{
    if (cycle_ == Cycle::None)
        return false;
    if (!seeking_) {
        seeking_ = true;
        phase_ = Phase::SeekTurn;
    }
    return true;
}

Autonomy::Step Autonomy::step(double dt, double chargeMah)
{
    cycleTime_ += dt;
    if (!seeking_) {
        if (cycle_ == Cycle::Spot && cycleTime_ >= kSpotSeconds) {
            end("finished");
            return {};
        }
        if (cycle_ == Cycle::Clean && cycleTime_ >= kCleanSeconds) {
            end("finished");
            return {};
        }
        if (cycle_ == Cycle::Max && chargeMah < kMaxStopsBelowMah) {
            end("battery low");
            return {};
        }
    }
    const Pose &pose = world_.pose();
    const Pose &dock = world_.room().dock;
    switch (phase_) {
    case Phase::Forward:
        if (cycle_ == Cycle::Spot) {
            // A spiral out for half the cycle, then back in.
            const double half = kSpotSeconds / 2;
            const double r =
                100 + 20 * (cycleTime_ < half ? cycleTime_ : kSpotSeconds - cycleTime_);
            const auto [l, rr] =
                wheelSpeeds({static_cast<std::int16_t>(kSpotSpeed), static_cast<std::int16_t>(r)});
            return {l, rr};
        }
        return {kCleanSpeed, kCleanSpeed};
    case Phase::Backup:
        phaseLeft_ -= kSpotSpeed * dt;
        if (phaseLeft_ <= 0) {
            phase_ = Phase::Turn;
            phaseLeft_ = kTurnAngles[turnIndex_++ % std::size(kTurnAngles)];
        }
        return {-kSpotSpeed, -kSpotSpeed};
    case Phase::Turn:
        phaseLeft_ -= 2 * kTurnWheelSpeed * dt / kWheelBaseMm;
        if (phaseLeft_ <= 0)
            phase_ = seeking_ ? Phase::SeekTurn : Phase::Forward;
        return {-turnDir_ * kTurnWheelSpeed, turnDir_ * kTurnWheelSpeed};
    case Phase::SeekTurn: {
        const double bearing = std::atan2(dock.y - pose.y, dock.x - pose.x);
        const double err = normalizeAngle(bearing - pose.heading);
        if (std::fabs(err) < 0.03) {
            phase_ = Phase::SeekDrive;
            return {};
        }
        const double s = err > 0 ? kTurnWheelSpeed : -kTurnWheelSpeed;
        return {-s, s};
    }
    case Phase::SeekDrive: {
        const double left = world_.distanceTo(dock);
        if (left < kSeekArrive) {
            end("");
            world_.place(dock);
            events_.push_back("docked: charging");
            return {0, 0, true};
        }
        const double bearing = std::atan2(dock.y - pose.y, dock.x - pose.x);
        if (std::fabs(normalizeAngle(bearing - pose.heading)) > 0.2) {
            phase_ = Phase::SeekTurn;
            return {};
        }
        const double v = std::min(250.0, left * 4 + 20);
        return {v, v};
    }
    }
    return {};
}

void Autonomy::react()
{
    if (phase_ != Phase::Forward && phase_ != Phase::SeekDrive)
        return;
    const std::uint8_t bumps = world_.bumps();
    const bool obstacle = bumps != 0 || world_.cliffs() != 0 || (!seeking_ && world_.virtualWall());
    if (!obstacle)
        return;
    turnDir_ = bumps == kBumpLeft ? -1 : 1;
    phase_ = Phase::Backup;
    phaseLeft_ = kBackupMm;
}

} // namespace velmora::sim
