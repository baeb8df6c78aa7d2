#pragma once

#include "link/portnumbers.h"

#include <QList>
#include <QString>

namespace velmora::link
{

// The platform side of the real port: which device a port number means, the messages that
// depend on how the platform names and guards its devices, and draining queued output.
// Windows: port n is COMn. POSIX: port n is whatever the link comN in portLinkFolder()
// points to, or /dev/ttyS{n-1} without such a link.

struct PortDevice {
    // What the port number opens.
    QString device;
    // Why it cannot be opened, fit to show the operator; empty if an open may be tried.
    QString problem;
};

// For numbers from 1 (portNumberProblem).
PortDevice portDevice(int number);

// The folder whose comN links give devices their port numbers; empty where numbers are native.
QString portLinkFolder();

// "Port 7 has no device: /dev/ttyS6 does not exist. ..." with a hint on how to give it one.
QString missingDeviceMessage(int number, const QString &device);

// An open refused with an access error: the operator lacks the rights to the device, or
// another program holds it.
enum class AccessRefusal { NotAllowed, Busy };
AccessRefusal accessRefusal(const QString &device);

// The platform refused the open with an access error: either the operator lacks the rights
// to the device (with how to get them) or another program holds it.
QString accessRefusedMessage(int number, const QString &device);

// Why an open failed, for a caller that must tell the reasons apart.
enum class OpenRefusal { None, NoDevice, NotAllowed, Busy, Settings, Other };

// The serial ports this machine has, numbered ports first in order, then unnumbered devices.
QList<PortChoice> availablePorts();

} // namespace velmora::link
