#include "probe/system.h"

#include "link/portnames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace velmora::probe
{

namespace
{

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

QString modeText(mode_t m)
{
    QString s = S_ISCHR(m) ? QStringLiteral("c") : QStringLiteral("-");
    const char *rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        s += (m & (1u << (8 - i))) ? QChar::fromLatin1(rwx[i]) : QChar(u'-');
    return s;
}

// The pseudo-terminal number of /dev/pts/N, or -1.
int ptyIndex(const QString &device)
{
    static const QRegularExpression pts(QStringLiteral("^/dev/pts/(\\d+)$"));
    const QRegularExpressionMatch m = pts.match(device);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace

std::optional<DeviceAccess> deviceAccess(const QString &device)
{
    DeviceAccess a;
    // getpwuid hands back one static record: keep what is needed before the next call.
    const passwd *me = ::getpwuid(::geteuid());
    const QByteArray myName = me ? QByteArray(me->pw_name) : QByteArray();
    const gid_t myGid = me ? me->pw_gid : ::getegid();
    a.user = me ? QString::fromLocal8Bit(myName) : QString::number(::geteuid());
    struct stat st {
    };
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return a;
    const passwd *owner = ::getpwuid(st.st_uid);
    const group *grp = ::getgrgid(st.st_gid);
    a.owner = owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid);
    a.group = grp ? QString::fromLocal8Bit(grp->gr_name) : QString::number(st.st_gid);
    a.mode = modeText(st.st_mode);
    a.groupMayReadWrite = (st.st_mode & S_IRGRP) && (st.st_mode & S_IWGRP);

    a.inGroupNow = ::getegid() == st.st_gid;
    const int n = ::getgroups(0, nullptr);
    std::vector<gid_t> now(static_cast<std::size_t>(n > 0 ? n : 0));
    if (n > 0 && ::getgroups(n, now.data()) == n)
        a.inGroupNow = a.inGroupNow || std::find(now.begin(), now.end(), st.st_gid) != now.end();
    if (!myName.isEmpty()) {
        int count = 64;
        std::vector<gid_t> listed(static_cast<std::size_t>(count));
        if (::getgrouplist(myName.constData(), myGid, listed.data(), &count) < 0) {
            listed.resize(static_cast<std::size_t>(count));
            ::getgrouplist(myName.constData(), myGid, listed.data(), &count);
        }
        listed.resize(static_cast<std::size_t>(count > 0 ? count : 0));
        a.inGroupListed = std::find(listed.begin(), listed.end(), st.st_gid) != listed.end();
    }
    return a;
}

QString lockFileOf(const QString &device)
{
    // Where the serial port layer keeps its lock: LCK.. and the name below /dev, '/' as '_'.
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const QString &dir : {QStringLiteral("/var/lock"), QStringLiteral("/etc/locks"),
                               QStringLiteral("/var/spool/locks"),
                               QStringLiteral("/var/spool/uucp"), QDir::tempPath()}) {
        const QString path = dir + QStringLiteral("/LCK..") + name;
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

QList<Holder> deviceHolders(const QString &device)
{
    const QString target = QFileInfo(device).canonicalFilePath();
    const int pty = ptyIndex(target);
    const QString lock = lockFileOf(target);
    const qint64 lockPid =
        lock.isEmpty() ? 0 : readText(lock).section(QLatin1Char('\n'), 0, 0).trimmed().toLongLong();
    const qint64 self = QCoreApplication::applicationPid();

    QList<Holder> found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &p : pids) {
        bool numeric = false;
        const qint64 pid = p.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        bool holds = false;
        bool maker = false;
        for (const QString &fd : QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString link = QFile::symLinkTarget(fdDir + QLatin1Char('/') + fd);
            if (link == target)
                holds = true;
            else if (pty >= 0 && link == QLatin1String("/dev/ptmx") &&
                     readText(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(fd))
                         .contains(
                             QRegularExpression(QStringLiteral("tty-index:\\s*%1\\b").arg(pty))))
                maker = true;
        }
        if (!holds && !maker && pid != lockPid)
            continue;
        Holder h;
        h.pid = pid;
        h.command = readText(QStringLiteral("/proc/%1/cmdline").arg(pid))
                        .replace(QChar(u'\0'), QChar(u' '))
                        .trimmed();
        h.name = readText(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed();
        h.lockFile = pid == lockPid;
        h.ptyMaker = maker;
        found << h;
    }
    return found;
}

QStringList stableNames()
{
    QStringList names;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &e : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        names << QStringLiteral("%1 -> %2").arg(e.absoluteFilePath(), e.canonicalFilePath());
    return names;
}

QString portLinkOf(int number)
{
    const QFileInfo file(QStringLiteral("%1/com%2").arg(link::portLinkFolder()).arg(number));
    return file.isSymLink() ? file.filePath() : QString();
}

bool deviceMissing(const QString &path)
{
    return !QFileInfo::exists(path);
}

} // namespace velmora::probe
