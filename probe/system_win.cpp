#include "probe/system.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>

// clang-format off
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

namespace velmora::probe
{

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

struct KnownPort {
    QString instance; // the device's instance id, which outlives its plugging
    QString name;     // COM3
    QString caption;  // as Device Manager shows it, without the COM name
};

// The COM ports of Device Manager's "Ports (COM & LPT)"; flags as SetupDiGetClassDevs takes.
QList<KnownPort> knownPorts(DWORD flags)
{
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

} // namespace

std::optional<DeviceAccess> deviceAccess(const QString &)
{
    // Whoever opens a COM port first has it; there is no owner or group to join.
    return std::nullopt;
}

QString lockFileOf(const QString &)
{
    return QString();
}

QList<Holder> deviceHolders(const QString &)
{
    // Windows names no holder of a COM port, not without tools run as administrator.
    return {};
}

QStringList stableNames()
{
    // Windows keeps an adapter's COM number while it is unplugged: an adapter that is not
    // there now still tells which number it will come back as.
    QSet<QString> present;
    for (const KnownPort &p : knownPorts(DIGCF_PRESENT))
        present.insert(p.instance);
    QList<KnownPort> ports = knownPorts(0);
    std::sort(ports.begin(), ports.end(), [](const KnownPort &a, const KnownPort &b) {
        const int an = a.name.mid(3).toInt();
        const int bn = b.name.mid(3).toInt();
        return an != bn ? an < bn : a.instance < b.instance;
    });
    QStringList names;
    for (const KnownPort &p : std::as_const(ports)) {
        QString line =
            p.caption.isEmpty() ? p.name : QStringLiteral("%1: %2").arg(p.name, p.caption);
        if (!present.contains(p.instance))
            line += QStringLiteral(" (not plugged in)");
        names << line;
    }
    return names;
}

QString portLinkOf(int)
{
    // Port N is COMN itself.
    return QString();
}

bool deviceMissing(const QString &path)
{
    const QString name = path.startsWith(QLatin1String("\\\\.\\")) ? path.mid(4) : path;
    // A device name such as COM3 is the open's to find: Wine, for one, opens COM ports that
    // no list of device names shows.
    if (!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')))
        return false;
    return !QFileInfo::exists(path);
}

} // namespace velmora::probe
