#include "link/fakeserialport.h"

namespace velmora::link
{

FakeSerialPort::FakeSerialPort(QObject *parent) : SerialPort(parent) {}

void FakeSerialPort::clearRecord()
{
    log_.clear();
    writes_.clear();
    rtsSets_.clear();
}

void FakeSerialPort::injectReceived(const QByteArray &bytes)
{
    if (!open_)
        return;
    const TraceHold hold(*this);
    appendReceived(bytes);
    raiseReceive();
}

void FakeSerialPort::injectQuietly(const QByteArray &bytes)
{
    if (open_)
        appendReceived(bytes);
}

void FakeSerialPort::unplug()
{
    if (!open_)
        return;
    open_ = false;
    log_ << QStringLiteral("lost");
    reportDeviceLost(
        tr("The connection to port %1 was lost: the device went away.").arg(commPort()));
}

bool FakeSerialPort::openDevice()
{
    if (!openFailure_.isEmpty()) {
        setError(openFailure_);
        openFailure_.clear();
        return false;
    }
    open_ = true;
    log_ << QStringLiteral("open %1 %2").arg(commPort()).arg(settings());
    return true;
}

void FakeSerialPort::closeDevice()
{
    open_ = false;
    log_ << QStringLiteral("close");
}

bool FakeSerialPort::applyRts(bool on)
{
    if (!rtsSupported_) {
        setError(
            tr("Port %1 has no RTS line, so the robot cannot be woken this way.").arg(commPort()));
        return false;
    }
    rtsSets_ << on;
    log_ << QStringLiteral("rts %1").arg(on ? 1 : 0);
    return true;
}

bool FakeSerialPort::writeDevice(const QByteArray &bytes)
{
    if (!writeFailure_.isEmpty()) {
        setError(writeFailure_);
        return false;
    }
    writes_ << QByteArray(bytes.constData(), bytes.size());
    log_ << QStringLiteral("write %1").arg(byteText(bytes));
    if (watcher_)
        watcher_(bytes);
    return true;
}

} // namespace velmora::link
