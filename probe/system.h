#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the operating system can tell about a serial device: who may open it, who holds it,
// its stable names. One file per system: system_unix.cpp reads stat, the group database and
// /proc; system_win.cpp asks the registry and the device manager's setup API.
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
// Empty where devices have no owner, group and mode (Windows).
std::optional<DeviceAccess> deviceAccess(const QString &device);

struct Holder {
    qint64 pid = 0;
    QString command;       // the command line
    QString name;          // the program's name, as the kernel knows it
    bool lockFile = false; // it owns the serial lock file of the device
    bool ptyMaker = false; // it holds the other end of this pseudo-terminal
};
// Every other process that has the device open, as far as the system lets this user see.
// Windows does not tell who holds a COM port: none there.
QList<Holder> deviceHolders(const QString &device);
// The serial lock file that names the device's holder, if one exists.
QString lockFileOf(const QString &device);

// Names that stay with an adapter: "usb-FTDI_FT232R_USB_UART_A12345-if00-port0 ->
// /dev/ttyUSB0" for each /dev/serial/by-id link; on Windows "COM3: USB Serial Port" for each
// COM number Device Manager has given, unplugged adapters included.
QStringList stableNames();

// The link through which port number names its device, or empty where it names it directly.
QString portLinkOf(int number);
// Whether a device path the operator gave certainly names nothing. On Windows a bare device
// name (COM3) is left to the open.
bool deviceMissing(const QString &path);

} // namespace velmora::probe
