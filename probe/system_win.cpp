#include "probe/system.h"

#include "link/knownports_win.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace velmora::probe
{

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
    for (const link::KnownPort &p : link::knownPorts(false))
        present.insert(p.instance);
    QList<link::KnownPort> ports = link::knownPorts(true);
    std::sort(ports.begin(), ports.end(), [](const link::KnownPort &a, const link::KnownPort &b) {
        const int an = a.name.mid(3).toInt();
        const int bn = b.name.mid(3).toInt();
        return an != bn ? an < bn : a.instance < b.instance;
    });
    QStringList names;
    for (const link::KnownPort &p : std::as_const(ports)) {
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
