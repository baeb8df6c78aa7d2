#include "probe/advice.h"

namespace velmora::probe
{

QString stableNamesHeading(bool any)
{
    return any ? QStringLiteral("Adapters Windows has given a COM number (Device Manager, "
                                "\"Ports (COM & LPT)\"):")
               : QStringLiteral("Device Manager lists no adapter under \"Ports (COM & LPT)\".");
}

QStringList noSuchPortTodo()
{
    return {QStringLiteral("Run the probe again with one of the port numbers above (N for COMN), "
                           "or a device name such as COM3."),
            QStringLiteral("Device Manager shows each adapter's COM number under \"Ports (COM & "
                           "LPT)\"; to give an adapter another number: its Properties, Port "
                           "Settings, Advanced, COM Port Number."),
            QStringLiteral("An adapter that is plugged in but not listed there lacks its driver: "
                           "Device Manager shows it with a yellow mark, often under \"Other "
                           "devices\"; install the driver from the adapter's maker.")};
}

QString wentAwayTodo()
{
    return QStringLiteral(
        "Check the adapter's plug and cable (a loose USB plug, a robot that switched "
        "off its Bluetooth adapter), plug it in again and run the probe again; in another USB "
        "socket an adapter can get another COM number, which Device Manager shows under "
        "\"Ports (COM & LPT)\".");
}

Advice notAllowedAdvice(const QString &device, const std::optional<DeviceAccess> &)
{
    // A COM port has no rights to grant an ordinary user: a refusal is a program or the driver.
    return {{QStringLiteral("Windows refused %1, though it gives COM ports no permissions to "
                            "grant: another program has it open, or its driver refused.")
                 .arg(device)},
            {QStringLiteral("Close any program that may have %1 open (a terminal program, "
                            "another console, a phone sync tool), unplug the adapter, plug it in "
                            "again and run the probe again.")
                 .arg(device),
             QStringLiteral("If it is still refused, look at the adapter in Device Manager "
                            "(\"Ports (COM & LPT)\"): a yellow mark means its driver has a "
                            "problem; install the driver from the adapter's maker.")}};
}

Advice holderAdvice(const Holder &h, const QString &)
{
    return {{}, {QStringLiteral("Close that program, or end it: taskkill /PID %1").arg(h.pid)}};
}

Advice noHolderAdvice(const QString &device, const QString &)
{
    return {{QStringLiteral("Windows does not tell which program holds a COM port.")},
            {QStringLiteral("Another program has %1 open (a terminal program, another console, "
                            "a phone sync tool); close it, then run the probe again.")
                 .arg(device)}};
}

QString cableCause()
{
    return QStringLiteral(
        "The cable: TX and RX swapped (a null-modem cable or adapter swaps them) or "
        "not connected; or the Bluetooth adapter is not paired, or this is not its outgoing COM "
        "port (Bluetooth settings, More Bluetooth options, COM Ports).");
}

QString otherDeviceCause(const QString &device)
{
    return QStringLiteral("Another device on this port: %1 may not lead to the robot's adapter "
                          "(a modem, a GPS receiver, another Bluetooth device); Device Manager "
                          "shows under \"Ports (COM & LPT)\" which adapter has %1.")
        .arg(device);
}

QString portHelp()
{
    return QStringLiteral("a port number as the console takes it (N for COMN), or a device "
                          "name (COM3)");
}

QString notAllowedHelp()
{
    return QStringLiteral("not allowed to open the port: what to check");
}

QString busyHelp()
{
    return QStringLiteral("busy: another program has the port open, and how to free it");
}

} // namespace velmora::probe
