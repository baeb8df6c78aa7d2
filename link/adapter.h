#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace velmora::link
{

class SerialPort;

// The adapter product the operator chose. None until the first choice; never None again.
enum class AdapterKind { None = 0, Wired = 1, Wexbin = 2 };

// The five AT lines that make the Bluetooth adapter pulse the robot's wake-up pin; the pin goes
// low with the third and high again with the fourth.
QList<QByteArray> wexbinWakeLines();

// The robot's documentation holds its Device Detect line low for about this long to wake it; a
// pulse of the few microseconds that back-to-back sets take is never seen by a real robot.
inline constexpr int kWakePulseMs = 500;
// ... and waits about this long after the wake-up before it sends the robot anything.
inline constexpr int kWakeSettleMs = 2000;

// When the end of a wake-up pulse is due. The default runs on a single-shot QTimer; tests drive
// their own by hand instead of waiting.
class WakeClock
{
public:
    virtual ~WakeClock() = default;
    // Calls due once, ms from now, unless stopped first. A new start replaces the last.
    virtual void start(int ms, std::function<void()> due) = 0;
    virtual void stop() = 0;
};

// One wake-up of the robot through the chosen adapter, held for kWakePulseMs by a timer, never
// by blocking. Wired: RTS off, on x5 at once, then off when the pulse ends. Wexbin: the first
// three AT lines at once (pin 6 low), the last two when the pulse ends.
class WakeUp
{
public:
    explicit WakeUp(SerialPort &port, std::unique_ptr<WakeClock> clock = {});
    ~WakeUp();
    WakeUp(const WakeUp &) = delete;
    WakeUp &operator=(const WakeUp &) = delete;

    // Starts the pulse; a pulse still running is ended first. Stops at the first refused
    // operation (the port's errorString() says why) and returns false; nothing runs on then.
    bool start(AdapterKind kind);
    // Ends a running pulse at once, as its timer would: Disconnect, Exit and a second "On" do
    // not leave the robot's line held low. On a closed port only RTS is set (kept for the next
    // open); lines cannot be written. False if the end was refused.
    bool finish();
    bool running() const { return running_ != AdapterKind::None; }

    // Called when a pulse ended by its timer; ok is false if the end was refused (the port's
    // errorString() says why).
    void setOnEnded(std::function<void(bool ok)> ended) { ended_ = std::move(ended); }

private:
    bool end();

    SerialPort &port_;
    std::unique_ptr<WakeClock> clock_;
    AdapterKind running_ = AdapterKind::None;
    std::function<void(bool)> ended_;
};

// What the Bluetooth adapter answers to its AT lines, each a whole line: "OK", "ERROR", and
// "NO CARRIER" (to ATMD). They come in on the same input as the robot's answers.
const QList<QByteArray> &adapterReplies();
// How many bytes at the front of bytes are whole adapter replies, one after the other.
qsizetype adapterRepliesAtFront(QByteArrayView bytes);

// The three lines that rename the Bluetooth adapter.
QList<QByteArray> renameLines(const QString &name);

// Writes the three rename lines. Refuses, without writing anything, a name that cannot go
// inside the rename line. On failure error holds a message for the operator.
bool renameAdapter(SerialPort &port, const QString &name, QString *error);

} // namespace velmora::link
