#include "link/serialport.h"

#include "link/linetrace.h"
#include "link/portnumbers.h"

#include <cstring>
#include <utility>

namespace velmora::link
{

SerialPort::SerialPort(QObject *parent) : QObject(parent)
{
    parseLineSettings(settingsText_, &lineSettings_);
    clock_.start();
}

void SerialPort::traceLine(qint64 at, const QString &text) const
{
    if (traceHolds_ > 0) {
        heldTrace_.append({at, text});
        return;
    }
    qCDebug(lcLink).noquote() << QString::asprintf("%10.3f ms", static_cast<double>(at) / 1e6)
                              << text;
}

SerialPort::TraceHold::~TraceHold()
{
    if (--port_.traceHolds_ > 0)
        return;
    const QList<HeldLine> held = std::exchange(port_.heldTrace_, {});
    for (const HeldLine &line : held)
        port_.traceLine(line.at, line.text);
}

SerialPort::~SerialPort() = default;

bool SerialPort::setSettings(const QString &text)
{
    QString why;
    if (!parseLineSettings(text, &lineSettings_, &why)) {
        setError(why);
        return false;
    }
    settingsText_ = text;
    return true;
}

bool SerialPort::setPortOpen(bool open)
{
    if (open == portOpen())
        return true;
    if (!open) {
        closeDevice();
        clearInput();
        VELMORA_TRACE(*this) << "close";
        return true;
    }
    if (const QString why = portNumberProblem(commPort_); !why.isEmpty()) {
        setError(why);
        VELMORA_TRACE(*this)
            << QStringLiteral("open port %1 refused: %2").arg(commPort_).arg(error_);
        return false;
    }
    clearInput();
    commEvent_ = 0;
    if (!openDevice()) {
        VELMORA_TRACE(*this)
            << QStringLiteral("open port %1 refused: %2").arg(commPort_).arg(error_);
        return false;
    }
    clock_.start();
    VELMORA_TRACE(*this) << QStringLiteral("open port %1%2, %3")
                                .arg(commPort_)
                                .arg(device().isEmpty() ? QString() : " (" + device() + ")",
                                     settingsText_);
    // The stored RTS value holds from the open on; a line without modem control may refuse it.
    driveRts(rts_, " at open");
    return true;
}

bool SerialPort::setRtsEnable(bool on)
{
    rts_ = on;
    if (!portOpen()) {
        VELMORA_TRACE(*this)
            << QStringLiteral("rts %1: kept for the next open (port closed)").arg(on ? 1 : 0);
        return true;
    }
    return driveRts(on, "");
}

bool SerialPort::driveRts(bool on, const char *when)
{
    const bool taken = applyRts(on);
    VELMORA_TRACE(*this) << QStringLiteral("rts %1%2: %3")
                                .arg(on ? 1 : 0)
                                .arg(QLatin1String(when),
                                     taken ? QStringLiteral("set") : "refused: " + error_);
    return taken;
}

bool SerialPort::outputBytes(const QByteArray &bytes)
{
    // Counted even if refused: part of the line may have gone out.
    if (portOpen())
        ++lineWrites_;
    return write(bytes, false);
}

bool SerialPort::writeBytes(const sci::Sequence &bytes)
{
    // Not copied: a stop written for a sensor packet allocates nothing.
    return write(QByteArray::fromRawData(reinterpret_cast<const char *>(bytes.data()),
                                         static_cast<qsizetype>(bytes.size())),
                 true);
}

bool SerialPort::write(const QByteArray &bytes, bool sci)
{
    auto shown = [&] { return sci ? byteText(bytes) : lineText(bytes, bytes.size()); };
    if (!portOpen()) {
        setError(tr("The port is not open; nothing was sent."));
        VELMORA_TRACE(*this) << QStringLiteral("out %1: not sent, port closed").arg(shown());
        return false;
    }
    const bool written = writeDevice(bytes);
    VELMORA_TRACE(*this) << QStringLiteral("out %1%2")
                                .arg(shown(), written
                                                  ? QString()
                                                  : QStringLiteral(": refused: %1").arg(error_));
    return written;
}

qsizetype SerialPort::inputCount(qsizetype room) const
{
    const qsizetype n =
        inputLen_ == 0 ? inBuffer_.size() : qMin<qsizetype>(inputLen_, inBuffer_.size());
    return qMin(n, room);
}

QByteArray SerialPort::input()
{
    const qsizetype n = inputCount(inBuffer_.size());
    QByteArray taken(inBuffer_.constData(), n);
    inBuffer_.remove(0, n);
    return taken;
}

qsizetype SerialPort::input(char *into, qsizetype room)
{
    const qsizetype n = inputCount(room);
    std::memcpy(into, inBuffer_.constData(), static_cast<std::size_t>(n));
    inBuffer_.remove(0, n);
    return n;
}

void SerialPort::appendReceived(const QByteArray &bytes)
{
    const qsizetype kept = qBound<qsizetype>(0, kInputLimit - inBuffer_.size(), bytes.size());
    inBuffer_.append(bytes.constData(), kept);
    VELMORA_TRACE(*this)
        << QStringLiteral("in %1: %2 (%3 waiting%4)")
               .arg(bytes.size())
               .arg(lineText(bytes))
               .arg(inBuffer_.size())
               .arg(kept < bytes.size()
                        ? QStringLiteral(", %1 dropped: input full").arg(bytes.size() - kept)
                        : QString());
}

void SerialPort::raiseReceive()
{
    if (rThreshold_ <= 0 || inBuffer_.isEmpty() || inBuffer_.size() < rThreshold_)
        return;
    const TraceHold hold(*this);
    commEvent_ = kCommEventReceive;
    emit onComm();
}

void SerialPort::arrive(const QByteArray &bytes)
{
    const TraceHold hold(*this);
    appendReceived(bytes);
    if (rThreshold_ <= 0)
        return;
    if (inputLen_ > 0 && inBuffer_.size() >= inputLen_) {
        settle(false);
        raiseReceive();
        return;
    }
    settle(true);
}

void SerialPort::reportDeviceLost(const QString &message)
{
    clearInput();
    setError(message);
    VELMORA_TRACE(*this) << "device lost:" << message;
    emit deviceLost(message);
}

} // namespace velmora::link
