#include "link/adapter.h"

#include "link/serialport.h"

#include <QTimer>

#include <utility>

namespace velmora::link
{

namespace
{
constexpr char kCr = '\r';

QByteArray atLine(QByteArray text)
{
    return text.append(kCr);
}

bool writeLines(SerialPort &port, const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines) {
        if (!port.outputBytes(line))
            return false;
    }
    return true;
}

// Why a name cannot go inside the adapter's rename line; empty if it can.
QString unsafeNameReason(const QString &name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
            return QStringLiteral(
                       "The name holds a control character at position %1. It would end the "
                       "adapter's command line early, so the name was not sent.")
                .arg(i + 1);
        if (c > 0xFF)
            return QStringLiteral(
                       "The character \"%1\" at position %2 cannot be sent to the adapter as one "
                       "byte, so the name was not sent.")
                .arg(name[i])
                .arg(i + 1);
    }
    return QString();
}
} // namespace

QList<QByteArray> wexbinWakeLines()
{
    return {atLine("+++"), atLine("ATSW22,6,1,1"), atLine("ATSW23,6,0,1"), atLine("ATSW23,6,1,1"),
            atLine("ATMD")};
}

namespace
{
class TimerWakeClock : public WakeClock
{
public:
    TimerWakeClock()
    {
        timer_.setSingleShot(true);
        // A coarse timer may end the pulse up to 5 % early.
        timer_.setTimerType(Qt::PreciseTimer);
    }
    void start(int ms, std::function<void()> due) override
    {
        QObject::disconnect(&timer_, &QTimer::timeout, nullptr, nullptr);
        QObject::connect(&timer_, &QTimer::timeout, std::move(due));
        timer_.start(ms);
    }
    void stop() override { timer_.stop(); }

private:
    QTimer timer_;
};

// The order of the sets binds: the line rises with the second and falls with the last; the
// sets between change nothing on the line.
constexpr bool kRtsRise[] = {false, true, true, true, true, true};
constexpr qsizetype kWexbinRiseLines = 3;
} // namespace

WakeUp::WakeUp(SerialPort &port, std::unique_ptr<WakeClock> clock)
    : port_(port), clock_(clock ? std::move(clock) : std::make_unique<TimerWakeClock>())
{
}

WakeUp::~WakeUp()
{
    clock_->stop();
}

bool WakeUp::start(AdapterKind kind)
{
    if (running() && !finish())
        return false;
    kind = kind == AdapterKind::Wired ? AdapterKind::Wired : AdapterKind::Wexbin;
    // From the first operation on, whatever went out is undone by the pulse's end.
    running_ = kind;
    bool ok = true;
    if (kind == AdapterKind::Wired) {
        for (bool on : kRtsRise) {
            if (!(ok = port_.setRtsEnable(on)))
                break;
        }
    } else {
        ok = writeLines(port_, wexbinWakeLines().first(kWexbinRiseLines));
    }
    if (!ok) {
        running_ = AdapterKind::None;
        return false;
    }
    clock_->start(kWakePulseMs, [this] {
        const bool ended = end();
        if (ended_)
            ended_(ended);
    });
    return true;
}

bool WakeUp::finish()
{
    if (!running())
        return true;
    clock_->stop();
    return end();
}

bool WakeUp::end()
{
    const AdapterKind kind = std::exchange(running_, AdapterKind::None);
    if (kind == AdapterKind::Wired)
        return port_.setRtsEnable(false);
    // A lost or closed line takes no lines; the adapter is reset by its own link going down.
    if (!port_.portOpen())
        return true;
    return writeLines(port_, wexbinWakeLines().sliced(kWexbinRiseLines));
}

const QList<QByteArray> &adapterReplies()
{
    static const QList<QByteArray> replies{"OK\r\n", "ERROR\r\n", "NO CARRIER\r\n"};
    return replies;
}

qsizetype adapterRepliesAtFront(QByteArrayView bytes)
{
    qsizetype at = 0;
    for (bool more = true; more;) {
        more = false;
        for (const QByteArray &reply : adapterReplies()) {
            if (bytes.sliced(at).startsWith(reply)) {
                at += reply.size();
                more = true;
                break;
            }
        }
    }
    return at;
}

QList<QByteArray> renameLines(const QString &name)
{
    return {atLine("+++"), atLine("ATSN," + name.toLatin1()), atLine("ATMD")};
}

bool renameAdapter(SerialPort &port, const QString &name, QString *error)
{
    if (const QString why = unsafeNameReason(name); !why.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    if (!writeLines(port, renameLines(name))) {
        if (error)
            *error = port.errorString();
        return false;
    }
    return true;
}

} // namespace velmora::link
