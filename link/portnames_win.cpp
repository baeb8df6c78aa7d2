#include "link/portnames.h"

#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

namespace velmora::link
{

PortDevice portDevice(int number)
{
    // Whether COMn exists shows at the open; enumeration misses some virtual ports.
    return {QStringLiteral("COM%1").arg(number), QString()};
}

QString portLinkFolder()
{
    return QString();
}

QString missingDeviceMessage(int number, const QString &device)
{
    return QStringLiteral(
               "Port %1 has no device: %2 does not exist. The Device Manager lists the COM number "
               "of each serial adapter under \"Ports (COM & LPT)\".")
        .arg(number)
        .arg(device);
}

AccessRefusal accessRefusal(const QString &)
{
    // Windows refuses a second open of a COM port with an access error.
    return AccessRefusal::Busy;
}

QString accessRefusedMessage(int number, const QString &device)
{
    // Windows refuses a second open of a COM port with an access error.
    return QStringLiteral("Port %1 (%2) is in use by another program. Close that program or choose "
                          "another port.")
        .arg(number)
        .arg(device);
}

bool oneAndHalfStopBits(int, QSerialPort::StopBits *stop)
{
    *stop = QSerialPort::OneAndHalfStop;
    return true;
}

void drainOutput(QSerialPort &, int)
{
    // Nothing beyond waitForBytesWritten, which already waited for the driver to take the bytes.
}

QList<PortChoice> availablePorts()
{
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]{0,4})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    QList<PortChoice> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        const QRegularExpressionMatch m = comName.match(info.portName());
        const int number = m.hasMatch() ? m.captured(1).toInt() : 0;
        ports.append({number <= 32767 ? number : 0, info.portName(), info.description()});
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

} // namespace velmora::link
