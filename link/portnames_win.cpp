#include "link/portnames.h"

#include "link/knownports_win.h"

#include <QMap>
#include <QRegularExpression>

#include <algorithm>

// clang-format off
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

namespace velmora::link
{

PortDevice portDevice(int number)
{
    // Whether COMn exists shows at the open; enumeration misses some virtual ports.
    return {QStringLiteral("COM%1").arg(number), QString()};
}

QString portLinkFolder()
{
    return QString();
}

QString missingDeviceMessage(int number, const QString &device)
{
    return QStringLiteral(
               "Port %1 has no device: %2 does not exist. The Device Manager lists the COM number "
               "of each serial adapter under \"Ports (COM & LPT)\".")
        .arg(number)
        .arg(device);
}

AccessRefusal accessRefusal(const QString &)
{
    // Windows refuses a second open of a COM port with an access error.
    return AccessRefusal::Busy;
}

QString accessRefusedMessage(int number, const QString &device)
{
    // Windows refuses a second open of a COM port with an access error.
    return QStringLiteral("Port %1 (%2) is in use by another program. Close that program or choose "
                          "another port.")
        .arg(number)
        .arg(device);
}

namespace
{

QString registryText(HKEY key, const wchar_t *name)
{
    wchar_t text[256] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return QString();
    return QString::fromWCharArray(text);
}

QString propertyText(HDEVINFO set, SP_DEVINFO_DATA &info, DWORD property)
{
    wchar_t text[256] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &info, property, nullptr,
                                           reinterpret_cast<BYTE *>(text),
                                           sizeof text - sizeof(wchar_t), nullptr))
        return QString();
    return QString::fromWCharArray(text);
}

} // namespace

QList<KnownPort> knownPorts(bool all)
{
    const DWORD flags = all ? 0 : DIGCF_PRESENT;
    QList<KnownPort> ports;
    const HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        const HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        const QString name = registryText(key, L"PortName").toUpper();
        RegCloseKey(key);
        // The class holds the printer ports too.
        if (!name.startsWith(QLatin1String("COM")))
            continue;
        wchar_t id[512] = {};
        if (!SetupDiGetDeviceInstanceIdW(set, &info, id, 511, nullptr))
            continue;
        QString caption = propertyText(set, info, SPDRP_FRIENDLYNAME);
        if (caption.isEmpty())
            caption = propertyText(set, info, SPDRP_DEVICEDESC);
        // "USB Serial Port (COM3)": the COM name stands beside it already.
        caption.remove(QStringLiteral(" (%1)").arg(name), Qt::CaseInsensitive);
        ports.append({QString::fromWCharArray(id), name, caption});
    }
    SetupDiDestroyDeviceInfoList(set);
    return ports;
}

namespace
{

// The system's own list of present serial ports: device object -> COM name. Wine fills it in
// from its dosdevices links too.
QStringList serialCommNames()
{
    QStringList names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[256];
        DWORD nameLength = 255;
        wchar_t data[256] = {};
        DWORD size = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type,
                                     reinterpret_cast<BYTE *>(data), &size);
        if (r == ERROR_NO_MORE_ITEMS)
            break;
        if (r == ERROR_SUCCESS && type == REG_SZ)
            names << QString::fromWCharArray(data);
    }
    RegCloseKey(key);
    return names;
}

} // namespace

QList<PortChoice> availablePorts()
{
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]{0,4})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    // COM name -> the name Device Manager shows.
    QMap<QString, QString> friendly;
    for (const KnownPort &p : knownPorts(false))
        friendly.insert(p.name, p.caption);
    QStringList names = serialCommNames();
    for (auto it = friendly.keyBegin(); it != friendly.keyEnd(); ++it) {
        if (!names.contains(*it, Qt::CaseInsensitive))
            names << *it;
    }
    QList<PortChoice> ports;
    for (const QString &name : std::as_const(names)) {
        const QRegularExpressionMatch m = comName.match(name);
        const int number = m.hasMatch() ? m.captured(1).toInt() : 0;
        ports.append({number <= 32767 ? number : 0, name, friendly.value(name.toUpper())});
    }
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

} // namespace velmora::link
