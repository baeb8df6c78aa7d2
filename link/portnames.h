#pragma once

#include <QList>
#include <QSerialPort>
#include <QString>

#include <optional>

namespace velmora::link
{

// The platform side of the real port: which device a port number means, the messages that
// depend on how the platform names and guards its devices, and draining queued output.
// Windows: port n is COMn. POSIX: port n is whatever the link comN in portLinkFolder()
// points to, or /dev/ttyS{n-1} without such a link.

struct PortDevice {
    // What the port number opens; empty for a number below 1.
    QString device;
    // Why it cannot be opened, fit to show the operator; empty if an open may be tried.
    QString problem;
};

PortDevice portDevice(int number);

inline QString numberBelowOneMessage(int number)
{
    return QStringLiteral("Port %1 does not exist: port numbers start at 1.").arg(number);
}

// The folder whose comN links give devices their port numbers; empty where numbers are native.
QString portLinkFolder();

// "Port 7 has no device: /dev/ttyS6 does not exist. ..." with a hint on how to give it one.
QString missingDeviceMessage(int number, const QString &device);

// The platform refused the open with an access error: either the operator lacks the rights
// to the device (with how to get them) or another program holds it.
QString accessRefusedMessage(int number, const QString &device);

// How this platform asks for 1.5 stop bits with the given data bits, or nothing if it cannot.
std::optional<QSerialPort::StopBits> oneAndHalfStopBits(int dataBits);

// Waits up to timeoutMs for the driver to send what it still holds for the line.
void drainOutput(QSerialPort &port, int timeoutMs);

struct PortChoice {
    int number = 0; // 0: the device has no port number yet (on POSIX: link it as comN)
    QString device;
    QString description;
    friend bool operator==(const PortChoice &, const PortChoice &) = default;
    // Numbered ports first, in order of number; then unnumbered devices by name.
    friend bool operator<(const PortChoice &a, const PortChoice &b)
    {
        if ((a.number == 0) != (b.number == 0))
            return b.number == 0;
        if (a.number != b.number)
            return a.number < b.number;
        return a.device < b.device;
    }
};

// The serial ports this machine has, numbered ports first in order, then unnumbered devices.
QList<PortChoice> availablePorts();

} // namespace velmora::link
