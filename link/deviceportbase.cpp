#include "link/deviceportbase.h"

namespace velmora::link
{

DevicePortBase::DevicePortBase(QObject *parent) : SerialPort(parent)
{
    quiet_.setSingleShot(true);
    quiet_.setTimerType(Qt::PreciseTimer);
    connect(&quiet_, &QTimer::timeout, this, [this] { raiseReceive(); });
}

bool DevicePortBase::chooseDevice()
{
    const PortDevice target =
        devicePath_.isEmpty() ? portDevice(commPort()) : PortDevice{devicePath_, QString()};
    device_ = target.device;
    refusal_ = OpenRefusal::None;
    if (!target.problem.isEmpty())
        return refuse(OpenRefusal::NoDevice, target.problem);
    return true;
}

bool DevicePortBase::refuse(OpenRefusal why, const QString &message)
{
    refusal_ = why;
    setError(message);
    return false;
}

void DevicePortBase::settle(bool start)
{
    if (start)
        quiet_.start(settle_);
    else
        quiet_.stop();
}

QString DevicePortBase::portText() const
{
    if (!devicePath_.isEmpty())
        return device_;
    return tr("Port %1 (%2)").arg(commPort()).arg(device_);
}

QString DevicePortBase::lostMessage() const
{
    return tr("%1 is gone: the device was unplugged, switched off or stopped working. Connect "
              "again once it is back.")
        .arg(portText());
}

QString parityName(Parity parity)
{
    static const char *const names[] = {"no parity", "even parity", "odd parity", "mark parity",
                                        "space parity"};
    return QString::fromLatin1(names[static_cast<int>(parity)]);
}

QString stopBitsName(StopBits stop)
{
    static const char *const names[] = {"1", "1.5", "2"};
    return QString::fromLatin1(names[static_cast<int>(stop)]);
}

} // namespace velmora::link
