#include "link/portnames.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSet>

#include <algorithm>

namespace velmora::link
{

namespace
{

QString linkPath(int number)
{
    return QStringLiteral("%1/com%2").arg(portLinkFolder()).arg(number);
}

QString firstSerialDevice(int number)
{
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

// The number a link name such as "com7" gives, or 0.
int linkNumber(const QString &fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^com([1-9][0-9]{0,4})$"));
    const QRegularExpressionMatch m = pattern.match(fileName);
    const int n = m.hasMatch() ? m.captured(1).toInt() : 0;
    return n <= 32767 ? n : 0;
}

QString canonicalOr(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

} // namespace

QString portLinkFolder()
{
    // A relative or empty XDG_CONFIG_HOME is to be ignored.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/velmora/ports"));
}

PortDevice portDevice(int number)
{
    const QFileInfo link(linkPath(number));
    if (link.isSymLink() && !link.exists()) {
        const QString target = link.symLinkTarget();
        return {
            target,
            QStringLiteral("Port %1 has no device: the link %2 points to %3, which does not exist.")
                .arg(number)
                .arg(link.filePath(), target)};
    }
    if (link.exists())
        return {link.canonicalFilePath(), QString()};

    const QString device = firstSerialDevice(number);
    if (!QFileInfo::exists(device))
        return {device, missingDeviceMessage(number, device)};
    return {device, QString()};
}

QString missingDeviceMessage(int number, const QString &device)
{
    return QStringLiteral(
               "Port %1 has no device: %2 does not exist. To use another device as port %1, "
               "link it as com%1 in %3 (for example: ln -s /dev/ttyUSB0 %4).")
        .arg(number)
        .arg(device, portLinkFolder(), linkPath(number));
}

AccessRefusal accessRefusal(const QString &device)
{
    // Rights that allow the open leave only another holder: a lock file or exclusive mode.
    const QFileInfo info(device);
    return info.isReadable() && info.isWritable() ? AccessRefusal::Busy : AccessRefusal::NotAllowed;
}

QString accessRefusedMessage(int number, const QString &device)
{
    if (accessRefusal(device) == AccessRefusal::NotAllowed)
        return QStringLiteral(
                   "Port %1 (%2) cannot be opened: permission denied. To get access on Debian, add "
                   "yourself to the dialout group with \"sudo adduser $USER dialout\", then log "
                   "out "
                   "and in again.")
            .arg(number)
            .arg(device);
    return QStringLiteral("Port %1 (%2) is in use by another program. Close that program or choose "
                          "another port.")
        .arg(number)
        .arg(device);
}

QList<PortChoice> availablePorts()
{
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    auto describe = [&infos](const QString &device) {
        for (const QSerialPortInfo &info : infos) {
            if (canonicalOr(info.systemLocation()) == device)
                return info.description();
        }
        return QString();
    };

    QList<PortChoice> ports;
    QSet<int> numbered;
    QSet<QString> linked;
    const QDir folder(portLinkFolder());
    const QFileInfoList entries =
        folder.entryInfoList({QStringLiteral("com*")}, QDir::Files | QDir::System);
    for (const QFileInfo &entry : entries) {
        const int number = linkNumber(entry.fileName());
        if (number == 0 || !entry.exists())
            continue;
        const QString device = entry.canonicalFilePath();
        ports.append({number, device, describe(device)});
        numbered.insert(number);
        linked.insert(device);
    }

    static const QRegularExpression firstSerial(QStringLiteral("^/dev/ttyS([0-9]{1,4})$"));
    for (const QSerialPortInfo &info : infos) {
        const QString device = canonicalOr(info.systemLocation());
        if (linked.contains(device))
            continue;
        const QRegularExpressionMatch m = firstSerial.match(device);
        int number = m.hasMatch() ? m.captured(1).toInt() + 1 : 0;
        if (numbered.contains(number))
            number = 0;
        ports.append({number, device, info.description()});
    }

    std::sort(ports.begin(), ports.end());
    return ports;
}

} // namespace velmora::link
