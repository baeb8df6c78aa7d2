#pragma once

#include "sim/adapter.h"
#include "sim/clock.h"
#include "sim/options.h"
#include "sim/robot.h"
#include "sim/trace.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <string>
#include <vector>

namespace velmora::sim
{

// The robot and its adapter behind one serial line, without the line itself: bytes in,
// timed writes out, hands-on commands, and a trace of it all. The owner of the line
// reads, writes the bytes as they fall due, and tells what it sent.
class Simulator
{
public:
    static constexpr double kNever = std::numeric_limits<double>::infinity();
    // A start bit, eight data bits and a stop bit.
    static constexpr double kBitsPerByte = 10;

    Simulator(const Options &options, const Clock &clock, Trace &trace);

    // What stands between the other end and the robot. A pseudo-terminal plays both, and
    // nothing on it tells them apart, so the line counts as a cable until the Bluetooth
    // adapter's escape ("+++" and a carriage return) comes in, and as the Bluetooth link from
    // then on for the rest of the run: only a Bluetooth adapter answers to it.
    enum class Link { Cable, Bluetooth };
    Link link() const { return link_; }

    // The speed the other end has set on the line (0: unknown, taken as the robot's own).
    void setLineBaud(int baud) { lineBaud_ = baud; }
    int lineBaud() const { return lineBaud_; }
    // The speed of the UART at the other side of the robot's: over a cable the other end's;
    // over Bluetooth the adapter's own, which was set to the speed the robot powers up with
    // and does not follow a Baud command. 0: unknown, taken as the robot's own.
    int farBaud() const;
    // Bytes between the robot and the far UART cross a speed mismatch as a UART at the wrong
    // speed makes of them. The adapter's own lines and replies never do: a Bluetooth link has
    // no speed.
    bool speedsDiffer() const;

    // Bytes just read from the line.
    void receive(const std::uint8_t *data, std::size_t size);
    void receive(const std::vector<std::uint8_t> &bytes) { receive(bytes.data(), bytes.size()); }
    // Moves the world on to the clock's time.
    void advance();

    struct Write {
        double due;
        std::vector<std::uint8_t> bytes;
        std::string meaning;
        bool onLine = false;      // it has met the line's speed
        bool fromAdapter = false; // the adapter's reply: no UART of the robot's on its way
    };
    // The oldest write not yet sent whole, or nullptr. Writes keep their order whatever their
    // times.
    const Write *nextWrite() const { return writes_.empty() ? nullptr : &writes_.front(); }
    // Bytes of the front write already handed to the line.
    std::size_t frontSent() const { return frontSent_; }
    // How many more of them may go to the line now: the rest once it falls due, or, paced,
    // those whose last bit would have arrived by now. A write that falls due crosses the line's
    // speed as it stands then: across a mismatch it is what the other end reads.
    std::size_t dueBytes();
    // n of the due bytes went to the line; the write is traced when its last byte goes.
    void sent(std::size_t n);
    // The front write is thrown away instead.
    void dropWrite(const std::string &why);
    // When the owner must look again at the latest (kNever if nothing is pending). While the
    // line takes no more bytes, its writes wait for it rather than for the clock.
    double nextDeadline(bool lineWritable = true) const;

    enum class Action { None, Quit, Unplug, Replug };
    struct Reply {
        std::string text;
        Action action = Action::None;
    };
    // One line typed on standard input.
    Reply command(const std::string &line);

    void lineDown(const std::string &why);
    void lineUp(const std::string &device);
    bool isLineUp() const { return lineUp_; }
    bool unplugDue() const { return lineUp_ && clock_.now() >= unplugAt_; }
    bool replugDue() const { return !lineUp_ && clock_.now() >= replugAt_; }
    // Plugging in failed: a timed replug tries again a little later.
    void replugFailed() { replugAt_ = replugAt_ == kNever ? kNever : clock_.now() + 1.0; }
    const std::string &device() const { return device_; }

    Robot &robot() { return robot_; }
    const Robot &robot() const { return robot_; }
    BluetoothAdapter &adapter() { return adapter_; }
    const BluetoothAdapter &adapter() const { return adapter_; }
    const Options &options() const { return options_; }

private:
    void queueAnswer(int code, const std::vector<std::uint8_t> &answer);
    void queueWrite(double due, std::vector<std::uint8_t> bytes, std::string meaning,
                    bool fromAdapter = false);
    // Data-mode bytes the adapter passed on, as the robot's UART reads them.
    void toRobot(std::vector<std::uint8_t> &bytes, double now);
    void adapterLine(double now);
    double nextByteAt() const;
    // The front write meets the line's speed once it falls due; false if nothing of it arrives.
    bool meetLineSpeed(Write &w);
    void flushIgnored(double now);
    void drainEvents(double now);

    Options options_;
    const Clock &clock_;
    Trace &trace_;
    Robot robot_;
    BluetoothAdapter adapter_;
    std::deque<Write> writes_;
    std::size_t frontSent_ = 0;
    double byteSeconds_ = 0; // paced: one byte's time on the line (10 bits); 0: at once
    double lineFreeAt_ = 0;  // paced: when the last byte handed over has arrived
    std::vector<std::uint8_t> ignored_;
    std::string ignoredWhy_;
    long answers_ = 0;
    int lineBaud_ = 0;
    Link link_ = Link::Cable;
    bool lineUp_ = true;
    std::string device_;
    double unplugAt_ = kNever;
    double replugAt_ = kNever;
};

} // namespace velmora::sim
