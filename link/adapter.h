#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace velmora::link
{

class SerialPort;

// The adapter product the operator chose. None until the first choice; never None again.
enum class AdapterKind { None = 0, Wired = 1, Wexbin = 2 };

// The five AT lines that make the Bluetooth adapter pulse the robot's wake-up pin.
QList<QByteArray> wexbinWakeLines();

// Wakes the robot: Wired pulses RTS (seven sets: off, on x5, off); anything else writes the
// Bluetooth adapter's AT lines. Stops at the first refused operation (errorString() says why).
bool wakeRobot(SerialPort &port, AdapterKind kind);

// The three lines that rename the Bluetooth adapter.
QList<QByteArray> renameLines(const QString &name);

// Writes the three rename lines. Refuses, without writing anything, a name that cannot go
// inside the rename line. On failure error holds a message for the operator.
bool renameAdapter(SerialPort &port, const QString &name, QString *error);

} // namespace velmora::link
