#include "probe/advice.h"

#include "link/portnames.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace velmora::probe
{

namespace
{

bool isModemManager(const Holder &h)
{
    return h.name == QLatin1String("ModemManager") ||
           h.command.contains(QLatin1String("ModemManager"));
}

bool isSerialConsole(const Holder &h)
{
    static const QRegularExpression getty(QStringLiteral("^(a|mini|m)?getty$"));
    return getty.match(h.name).hasMatch();
}

} // namespace

QString stableNamesHeading(bool any)
{
    return any ? QStringLiteral("Stable names under /dev/serial/by-id:")
               : QStringLiteral("No stable names under /dev/serial/by-id (no USB serial "
                                "adapter is plugged in).");
}

QStringList noSuchPortTodo()
{
    return {QStringLiteral("Run the probe again with one of the port numbers above "
                           "(or a device path)."),
            QStringLiteral("To give a device a number N, link it as comN in %1, best by its "
                           "stable name: ln -s /dev/serial/by-id/... %1/comN")
                .arg(link::portLinkFolder())};
}

QString wentAwayTodo()
{
    return QStringLiteral(
        "Check the adapter's plug and cable (a loose USB plug, a robot that switched "
        "off its Bluetooth adapter), plug it in again and run the probe again; a USB "
        "adapter can come back under another name, its /dev/serial/by-id name stays.");
}

Advice notAllowedAdvice(const QString &device, const std::optional<DeviceAccess> &access)
{
    const DeviceAccess a = access.value_or(DeviceAccess{});
    Advice advice;
    advice.details << QStringLiteral("%1 belongs to user %2 and group %3, mode %4.")
                          .arg(device, a.owner, a.group, a.mode);
    if (a.inGroupListed && !a.inGroupNow)
        advice.details << QStringLiteral("You (%1) are listed in the group %2, but this "
                                         "login does not have it yet.")
                              .arg(a.user, a.group);
    else
        advice.details << QStringLiteral("You (%1) are %2in the group %3.")
                              .arg(a.user, a.inGroupNow ? QString() : QStringLiteral("not "),
                                   a.group);
    if (!a.groupMayReadWrite) {
        advice.details << QStringLiteral("The group %1 may not read and write it either; "
                                         "only %2 may.")
                              .arg(a.group, a.owner);
        advice.todo << QStringLiteral(
                           "Run the probe and the console as %1, or give a group read and "
                           "write access with a udev rule, for example: "
                           "KERNEL==\"%2\", GROUP=\"dialout\", MODE=\"0660\"; then join "
                           "that group (sudo adduser %3 dialout) and log out and in again.")
                           .arg(a.owner, QFileInfo(device).fileName(), a.user);
    } else if (a.inGroupListed && !a.inGroupNow) {
        advice.todo << QStringLiteral("Log out and in again: a new group counts only from a "
                                      "new login.");
    } else {
        advice.todo << QStringLiteral("Join the group: sudo adduser %1 %2").arg(a.user, a.group)
                    << QStringLiteral("Then log out and in again: the new group counts only "
                                      "from a new login.");
    }
    return advice;
}

Advice holderAdvice(const Holder &h, const QString &device)
{
    Advice advice;
    if (isModemManager(h)) {
        advice.details << QStringLiteral("That is ModemManager: it takes new serial "
                                         "devices for modems and probes them.");
        advice.todo << QStringLiteral(
            "Stop ModemManager: sudo systemctl stop ModemManager (sudo systemctl disable "
            "--now ModemManager keeps it off; or keep it away from the adapter with a "
            "udev rule, see the README).");
    } else if (isSerialConsole(h)) {
        advice.details << QStringLiteral("That is a serial console (a login prompt) on "
                                         "this port.");
        advice.todo << QStringLiteral("Stop it: sudo systemctl stop "
                                      "serial-getty@%1.service (and disable it to keep "
                                      "it off).")
                           .arg(QFileInfo(device).fileName());
    } else {
        advice.todo << QStringLiteral("Close that program, or end it: kill %1").arg(h.pid);
    }
    return advice;
}

Advice noHolderAdvice(const QString &, const QString &port)
{
    return {{QStringLiteral("No process that this user can see holds it.")},
            {QStringLiteral("Processes of other users are hidden from you: run "
                            "sudo velmora-probe %1 to see who holds it.")
                 .arg(port)}};
}

QString cableCause()
{
    return QStringLiteral(
        "The cable: TX and RX swapped (a null-modem cable or adapter swaps them) or "
        "not connected; or the Bluetooth adapter is not paired, or its RFCOMM device is "
        "not bound (bluetoothctl, rfcomm bind).");
}

QString otherDeviceCause(const QString &device)
{
    return QStringLiteral("Another device on this port: %1 may not lead to the robot's adapter "
                          "(a modem, a GPS receiver, a serial console); check which device the "
                          "port number points to.")
        .arg(device);
}

QString portHelp()
{
    return QStringLiteral("a port number as the console takes it, or a device path");
}

QString notAllowedHelp()
{
    return QStringLiteral("not allowed to open the port: its owner, group and mode, and how to "
                          "join");
}

QString busyHelp()
{
    return QStringLiteral("busy: which process holds the port, and how to free it");
}

} // namespace velmora::probe
