#pragma once

// What a diagnosis tells the operator, in the words of the system the probe runs on: its tools,
// its device names, its settings. advice_unix.cpp and advice_win.cpp hold one system's each;
// diagnoses.cpp words the rest and is the same everywhere.

#include "probe/system.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace velmora::probe
{

// What a diagnosis adds to its report: what was found, and what to do.
struct Advice {
    QStringList details;
    QStringList todo;
};

// The line over the list of stableNames(), or the one that stands in for an empty list.
QString stableNamesHeading(bool any);

// No such port: what to give instead, and how a device gets a port number.
QStringList noSuchPortTodo();

// The device went away in the middle of the walk.
QString wentAwayTodo();

// Permission denied, from the device's owner, group and mode where the system has them.
Advice notAllowedAdvice(const QString &device, const std::optional<DeviceAccess> &access);

// Busy: about one program that holds the device and is not its expected other end.
Advice holderAdvice(const Holder &h, const QString &device);
// Busy, with no such program to be seen; port as the operator gave it.
Advice noHolderAdvice(const QString &device, const QString &port);

// A silent line whose adapter does not answer either: the cable, or the Bluetooth link.
QString cableCause();
// Something answers, but it may be another device than the robot's adapter.
QString otherDeviceCause(const QString &device);

// For velmora-probe --help: what PORT may be, and what exit statuses 3 and 4 tell.
QString portHelp();
QString notAllowedHelp();
QString busyHelp();

} // namespace velmora::probe
