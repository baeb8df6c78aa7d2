// The floor for bump-to-stop latency: the least a program on this machine can do to stop the
// robot after a bump. No Qt, no event loop, no decoding beyond the one bit: blocking reads on
// the raw line, the stop written the moment the 26th byte is in.
//
//   floor PORT_PATH BUMPS [PERIOD_MS]
//
// Opens PORT_PATH (the simulator's port link), sends Start and Control, then every PERIOD_MS
// (default 250, on an absolute schedule) asks for the sensor packet, reads 26 bytes and, when
// a bumper bit is set, writes the stop at once. Ends after BUMPS bumped packets. The times are
// taken from the simulator's trace, not here, so all contenders are measured the same way.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace
{

bool writeAll(int fd, const unsigned char *bytes, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, bytes, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Reads exactly n bytes unless the line stays quiet for timeoutMs; returns how many came.
std::size_t readPacket(int fd, unsigned char *buf, std::size_t n, int timeoutMs)
{
    std::size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        const ssize_t k = ::read(fd, buf + got, n - got);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            break;
        got += static_cast<std::size_t>(k);
    }
    return got;
}

void addMs(timespec &t, long ms)
{
    t.tv_nsec += ms * 1000000L;
    while (t.tv_nsec >= 1000000000L) {
        t.tv_nsec -= 1000000000L;
        ++t.tv_sec;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PORT_PATH BUMPS [PERIOD_MS]\n", argv[0]);
        return 2;
    }
    const long bumpsWanted = std::atol(argv[2]);
    const long periodMs = argc > 3 ? std::atol(argv[3]) : 250;
    if (bumpsWanted <= 0 || periodMs <= 0) {
        std::fprintf(stderr, "%s: BUMPS and PERIOD_MS must be positive\n", argv[0]);
        return 2;
    }

    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", argv[0], argv[1], std::strerror(errno));
        return 1;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetspeed(&tio, B57600);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    ::tcflush(fd, TCIOFLUSH);

    static const unsigned char kStartControl[] = {128, 130};
    static const unsigned char kSensors[] = {142, 0};
    static const unsigned char kStop[] = {137, 0, 0, 0, 0};
    if (!writeAll(fd, kStartControl, sizeof kStartControl)) {
        std::perror("write");
        return 1;
    }

    timespec next{};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    long bumps = 0, packets = 0, misses = 0;
    while (bumps < bumpsWanted) {
        addMs(next, periodMs);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
        ::tcflush(fd, TCIFLUSH); // what a missed answer left behind
        if (!writeAll(fd, kSensors, sizeof kSensors)) {
            std::perror("write");
            return 1;
        }
        unsigned char packet[26];
        if (readPacket(fd, packet, sizeof packet, static_cast<int>(periodMs) - 20) !=
            sizeof packet) {
            ++misses;
            continue;
        }
        ++packets;
        if (packet[0] & 0x03) {
            if (!writeAll(fd, kStop, sizeof kStop)) {
                std::perror("write");
                return 1;
            }
            ++bumps;
        }
    }
    std::printf("floor: %ld packets, %ld bumped, %ld requests unanswered\n", packets, bumps,
                misses);
    ::close(fd);
    return 0;
}
