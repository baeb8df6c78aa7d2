#include "sim/line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace velmora::sim
{

namespace
{

std::string errorText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

std::string readLinkText(const std::string &path)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

} // namespace

bool PtyLine::open(std::string &error)
{
    close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        error = errorText("cannot open a pseudo-terminal");
        return false;
    }
    char name[128];
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        error = errorText("cannot set up the pseudo-terminal");
        close();
        return false;
    }
    device_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = errorText("cannot open " + device_);
        close();
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0) {
        error = errorText("cannot read the line settings of " + device_);
        close();
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B57600);
    ::cfsetospeed(&tio, B57600);
    if (::tcsetattr(slave_, TCSANOW, &tio) != 0) {
        error = errorText("cannot put " + device_ + " into raw mode");
        close();
        return false;
    }
    // Watched after our own open, so only the opens of others count.
    watch_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && ::inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    others_ = 0;
    return true;
}

void PtyLine::close()
{
    for (int *fd : {&watch_, &slave_, &master_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    others_ = 0;
}

int PtyLine::baud() const
{
    termios tio{};
    if (slave_ < 0 || ::tcgetattr(slave_, &tio) != 0)
        return 0;
    static const struct {
        speed_t code;
        int rate;
    } kRates[] = {{B300, 300},       {B600, 600},        {B1200, 1200},     {B2400, 2400},
                  {B4800, 4800},     {B9600, 9600},      {B19200, 19200},   {B38400, 38400},
                  {B57600, 57600},   {B115200, 115200},  {B230400, 230400}, {B460800, 460800},
                  {B921600, 921600}, {B1000000, 1000000}};
    const speed_t code = ::cfgetospeed(&tio);
    for (const auto &r : kRates) {
        if (r.code == code)
            return r.rate;
    }
    return 0;
}

PtyLine::Change PtyLine::readWatch()
{
    Change change = Change::None;
    bool allClosed = false;
    if (watch_ < 0)
        return change;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(watch_, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            inotify_event ev;
            std::memcpy(&ev, buf + at, sizeof ev);
            at += static_cast<ssize_t>(sizeof ev + ev.len);
            if (ev.mask & IN_OPEN) {
                if (others_++ == 0)
                    change = Change::Opened;
            } else if ((ev.mask & IN_CLOSE) && others_ > 0) {
                if (--others_ == 0) {
                    change = Change::Closed;
                    allClosed = true;
                }
            }
        }
    }
    // What the last reader left unread is lost, as on a closed port; a later open must not
    // find old answers waiting, even when it came in the same batch as the close.
    if (allClosed && slave_ >= 0)
        ::tcflush(slave_, TCIFLUSH);
    return change;
}

std::string portsFolder()
{
    std::string base;
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char *home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd *pw = ::getpwuid(::getuid());
            home = pw ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.config";
    }
    return base + "/velmora/ports";
}

bool makeFolders(const std::string &path, std::string &error)
{
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = errorText("cannot create " + part);
            return false;
        }
    }
    struct stat st {
    };
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = path + " is not a folder";
        return false;
    }
    return true;
}

bool placeLink(const std::string &path, const std::string &target, std::string &replaced,
               std::string &error)
{
    replaced.clear();
    struct stat st {
    };
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = path + " exists and is not a link; not replacing it";
            return false;
        }
        replaced = readLinkText(path);
    }
    // A new link under a temporary name renamed over the old one: never a moment without.
    const std::string temp = path + ".new." + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) {
        error = errorText("cannot create the link " + temp);
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        error = errorText("cannot create the link " + path);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void removeLink(const std::string &path, const std::string &target)
{
    if (!target.empty() && readLinkText(path) == target)
        ::unlink(path.c_str());
}

} // namespace velmora::sim
