#pragma once

#include <QString>

namespace velmora::link
{

// Ports are chosen by number, as the operator types it into the console.

// Numbers start at 1: why a lower one opens nothing, fit to show the operator; empty for a
// number that may be tried. The port asks before every open, the probe before it looks.
inline QString portNumberProblem(int number)
{
    return number < 1
               ? QStringLiteral("Port %1 does not exist: port numbers start at 1.").arg(number)
               : QString();
}

// A serial port of this machine under the number the operator types for it.
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

// "3  /dev/ttyUSB0  (FT232R USB UART)": one port as the port number's tooltip lists it.
inline QString portChoiceLine(const PortChoice &p)
{
    const QString number = p.number > 0 ? QString::number(p.number) : QStringLiteral("(no number)");
    const QString about =
        p.description.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(p.description);
    return QStringLiteral("%1  %2%3").arg(number, p.device, about);
}

} // namespace velmora::link
