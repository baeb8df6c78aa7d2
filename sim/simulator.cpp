#include "sim/simulator.h"

#include "sim/operator_commands.h"
#include "sim/uart.h"

#include <algorithm>

namespace velmora::sim
{

Simulator::Simulator(const Options &options, const Clock &clock, Trace &trace)
    : options_(options), clock_(clock), trace_(trace), robot_(options.asleep),
      byteSeconds_(options.paceBaud > 0 ? kBitsPerByte / options.paceBaud : 0)
{
    const double now = clock_.now();
    robot_.advanceTo(now);
    if (options_.pose)
        robot_.place(*options_.pose);
    robot_.setPowerOnBaudRate(options_.baud);
    robot_.setWakeTime(options_.wakeMs / 1000.0);
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

int Simulator::farBaud() const
{
    return link_ == Link::Bluetooth ? options_.baud : lineBaud_;
}

bool Simulator::speedsDiffer() const
{
    const int far = farBaud();
    return far > 0 && far != robot_.baudRate();
}

void Simulator::receive(const std::uint8_t *data, std::size_t size)
{
    const double now = clock_.now();
    robot_.advanceTo(now);
    drainEvents(now);
    if (options_.off) {
        // The Bluetooth adapter takes its power from the robot too: nobody reads the line.
        trace_.rx(now, {data, data + size},
                  "Ignored " + plural(size, "byte") + " (robot switched off)");
        return;
    }
    // The adapter reads the bytes as they were sent: over Bluetooth nothing has a speed, and
    // over a cable it is not there to read them at all (it only ever passes them on). What it
    // passes on meets the robot's UART.
    std::vector<std::uint8_t> passed;
    for (std::size_t i = 0; i < size; ++i) {
        switch (adapter_.push(data[i])) {
        case BluetoothAdapter::Result::ToRobot:
            passed.push_back(data[i]);
            break;
        case BluetoothAdapter::Result::Consumed:
            break;
        case BluetoothAdapter::Result::LineDone:
            if (adapter_.line().escape && link_ == Link::Cable) {
                link_ = Link::Bluetooth;
                trace_.info(now, "the adapter's escape came in: the line counts as the "
                                 "Bluetooth link from now on, so the speed set on the other "
                                 "end no longer matters");
            }
            toRobot(passed, now);
            adapterLine(now);
            break;
        }
    }
    toRobot(passed, now);
    flushIgnored(now);
}

// Over a cable the bytes left the other end's UART; over Bluetooth the adapter sends them on
// from its own, one after the other as they came. Either way a mismatch with the robot's
// speed is the one thing that can mangle them.
void Simulator::toRobot(std::vector<std::uint8_t> &bytes, double now)
{
    if (bytes.empty())
        return;
    std::vector<std::uint8_t> arrived;
    if (speedsDiffer()) {
        arrived = readAtWrongSpeed(bytes, farBaud(), robot_.baudRate());
        trace_.info(now, plural(bytes.size(), "byte") + " sent at " + std::to_string(farBaud()) +
                             " baud" + (link_ == Link::Bluetooth ? " by the adapter" : "") +
                             " reach the robot at " + std::to_string(robot_.baudRate()) +
                             " baud as " + plural(arrived.size(), "byte"));
    } else {
        arrived.swap(bytes);
    }
    bytes.clear();
    for (const std::uint8_t b : arrived) {
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
                queueAnswer(out.bytes[1], out.answer);
        }
    }
}

void Simulator::adapterLine(double now)
{
    const BluetoothAdapter::Line &line = adapter_.line();
    // The escape's '+' reached the robot, which ignored them; the escape's own line shows
    // them, so they are not listed twice.
    if (line.escape && ignored_.size() >= 3 && ignored_.back() == '+' &&
        ignored_.end()[-2] == '+' && ignored_.end()[-3] == '+')
        ignored_.resize(ignored_.size() - 3);
    flushIgnored(now);
    trace_.rx(now, line.bytes, line.meaning);
    robot_.setDeviceDetect(adapter_.deviceDetectLow());
    drainEvents(now);
    if (options_.adapterReplies && !line.reply.empty()) {
        queueWrite(now, std::vector<std::uint8_t>(line.reply.begin(), line.reply.end()),
                   "AT reply " + line.reply.substr(0, line.reply.size() - 2), true);
    }
}

void Simulator::queueAnswer(int code, const std::vector<std::uint8_t> &answer)
{
    const double now = clock_.now();
    const Faults &f = options_.faults;
    const std::string what = "Sensors packet " + std::to_string(code) + " answer";
    if (f.dropsAnswer(++answers_)) {
        trace_.info(now, what + " left out (drop-every " + std::to_string(f.dropEvery) + ")");
        return;
    }
    for (AnswerWrite &w : shapeAnswer(f, answer, what))
        queueWrite(now + w.delaySeconds, std::move(w.bytes), std::move(w.meaning));
}

void Simulator::queueWrite(double due, std::vector<std::uint8_t> bytes, std::string meaning,
                           bool fromAdapter)
{
    if (!lineUp_ || bytes.empty())
        return;
    // The line is a queue: nothing overtakes an earlier write.
    if (!writes_.empty())
        due = std::max(due, writes_.back().due);
    writes_.push_back({due, std::move(bytes), std::move(meaning), false, fromAdapter});
}

// Paced, the line is a transmitter: byte after byte, each arriving whole a byte's time after
// the line was free for it. The times follow that grid rather than when the owner came round,
// so a late wake-up hands over the bytes that are due together and the pace is kept.
double Simulator::nextByteAt() const
{
    const Write &w = writes_.front();
    return byteSeconds_ > 0 ? std::max(w.due, lineFreeAt_) + byteSeconds_ : w.due;
}

bool Simulator::meetLineSpeed(Write &w)
{
    w.onLine = true;
    if (w.fromAdapter || !speedsDiffer())
        return true;
    const std::size_t sent = w.bytes.size();
    w.bytes = readAtWrongSpeed(w.bytes, robot_.baudRate(), farBaud());
    w.meaning += " (" + plural(sent, "byte") + " sent at " + std::to_string(robot_.baudRate()) +
                 " baud, read at " + std::to_string(farBaud()) + " baud" +
                 (link_ == Link::Bluetooth ? " by the adapter" : "") + " as " +
                 plural(w.bytes.size(), "byte") + ")";
    if (!w.bytes.empty())
        return true;
    trace_.info(clock_.now(), w.meaning);
    return false;
}

std::size_t Simulator::dueBytes()
{
    const double now = clock_.now();
    while (!writes_.empty() && !writes_.front().onLine && writes_.front().due <= now) {
        if (meetLineSpeed(writes_.front()))
            break;
        writes_.pop_front();
        frontSent_ = 0;
    }
    if (writes_.empty())
        return 0;
    const Write &w = writes_.front();
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
    // The end of a wake time is traced when it comes, not with the next byte.
    if (robot_.waking())
        t = std::min(t, robot_.listensAt());
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

Simulator::Reply Simulator::command(const std::string &line)
{
    const std::vector<std::string> w = splitWords(line);
    if (w.empty())
        return {};
    const double now = clock_.now();
    robot_.advanceTo(now);
    drainEvents(now);
    const std::string &cmd = w[0];
    if (cmd == "help" || cmd == "?")
        return {operatorHelp()};
    if (cmd == "status")
        return {statusText(*this)};
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
        std::string err;
        if (!parseFaults({w.begin() + 1, w.end()}, options_.faults, err))
            return {"fault: " + err};
        // An unplug time given now counts from now.
        const int unplugAfter = options_.faults.unplugAfterMs;
        if (line.find("unplug-after") != std::string::npos || w[1] == "off")
            unplugAt_ = unplugAfter >= 0 ? now + unplugAfter / 1000.0 : kNever;
        trace_.info(now, "faults: " + options_.faults.describe());
        return {"faults: " + options_.faults.describe()};
    }
    const std::optional<std::string> reply = handsCommand(robot_, w);
    if (!reply)
        return {"unknown command \"" + cmd + "\"; type help"};
    trace_.info(now, "hands: " + line + " -> " + *reply);
    drainEvents(now);
    return {*reply};
}

} // namespace velmora::sim
