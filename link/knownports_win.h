#pragma once

#include <QList>
#include <QString>

namespace velmora::link
{

// A COM port as Device Manager lists it under "Ports (COM & LPT)" (Windows only).
struct KnownPort {
    QString instance; // the device's instance id, which outlives its plugging
    QString name;     // COM3
    QString caption;  // as Device Manager shows it, without the COM name
};

// The COM ports of that list: those plugged in now, or with all, those Windows keeps a number
// for while they are away too.
QList<KnownPort> knownPorts(bool all);

} // namespace velmora::link
