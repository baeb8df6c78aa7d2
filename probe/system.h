#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the operating system can tell about a serial device: who may open it, who holds it,
// its stable names. Linux: from stat, the group database and /proc.
namespace velmora::probe
{

struct DeviceAccess {
    QString owner;
    QString group;
    QString mode; // as ls shows it: crw-rw----
    bool groupMayReadWrite = false;
    QString user;               // who runs the probe
    bool inGroupNow = false;    // this login session has the group
    bool inGroupListed = false; // the group database lists the user in it
};
DeviceAccess deviceAccess(const QString &device);

struct Holder {
    qint64 pid = 0;
    QString command;       // the command line
    QString name;          // the program's name, as the kernel knows it
    bool lockFile = false; // it owns the serial lock file of the device
    bool ptyMaker = false; // it holds the other end of this pseudo-terminal
};
// Every other process that has the device open, as far as /proc lets this user see.
QList<Holder> deviceHolders(const QString &device);
// The serial lock file that names the device's holder, if one exists.
QString lockFileOf(const QString &device);

// "usb-FTDI_FT232R_USB_UART_A12345-if00-port0 -> /dev/ttyUSB0" for each /dev/serial/by-id link.
QStringList stableNames();

bool isModemManager(const Holder &h);
bool isSerialConsole(const Holder &h);

} // namespace velmora::probe
