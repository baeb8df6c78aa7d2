// velmora-sim: the robot and its Bluetooth adapter on a pseudo-terminal.

#include "sim/clock.h"
#include "sim/line.h"
#include "sim/options.h"
#include "sim/simulator.h"
#include "sim/trace.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

using namespace velmora::sim;

namespace
{

class App
{
public:
    App(const Options &options, Trace &trace, const Clock &clock)
        : options_(options), trace_(trace), clock_(clock), sim_(options, clock, trace)
    {
    }

    int run(int signalFd);

private:
    bool plugIn(std::string &error, std::string &replaced);
    void unplug(const std::string &why);
    void flushWrites();
    void readLine();
    void readStdin();
    void handle(const std::string &line);

    Options options_;
    Trace &trace_;
    const Clock &clock_;
    Simulator sim_;
    PtyLine line_;
    std::string linkPath_;
    bool waitWritable_ = false;
    bool stdinOpen_ = true;
    bool running_ = true;
    std::string stdinBuffer_;
};

bool App::plugIn(std::string &error, std::string &replaced)
{
    if (!line_.open(error))
        return false;
    if (!placeLink(linkPath_, line_.device(), replaced, error)) {
        line_.close();
        return false;
    }
    waitWritable_ = false;
    return true;
}

void App::unplug(const std::string &why)
{
    removeLink(linkPath_, line_.device());
    line_.close();
    waitWritable_ = false;
    sim_.lineDown(why);
}

void App::flushWrites()
{
    while (line_.isOpen()) {
        const Simulator::Write *w = sim_.nextWrite();
        const std::size_t due = sim_.dueBytes();
        if (!w || due == 0)
            return;
        if (sim_.frontSent() == 0 && line_.nobodyListening()) {
            // A closed port on the other side: bytes sent now would be lost on the way.
            line_.readWatch();
            if (line_.nobodyListening()) {
                sim_.dropWrite("nobody has the line open");
                continue;
            }
        }
        const ssize_t n = ::write(line_.master(), w->bytes.data() + sim_.frontSent(), due);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                waitWritable_ = true;
                return;
            }
            sim_.dropWrite(std::string("write failed: ") + std::strerror(errno));
            continue;
        }
        waitWritable_ = static_cast<std::size_t>(n) < due;
        sim_.sent(static_cast<std::size_t>(n));
        if (waitWritable_)
            return;
    }
}

void App::readLine()
{
    std::uint8_t buf[4096];
    const ssize_t n = ::read(line_.master(), buf, sizeof buf);
    if (n > 0) {
        trace_.hold();
        sim_.receive(buf, static_cast<std::size_t>(n));
        flushWrites();
        trace_.release();
    }
}

void App::handle(const std::string &text)
{
    const Simulator::Reply reply = sim_.command(text);
    if (!reply.text.empty()) {
        std::fputs(reply.text.c_str(), stdout);
        if (reply.text.back() != '\n')
            std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    switch (reply.action) {
    case Simulator::Action::None:
        break;
    case Simulator::Action::Quit:
        running_ = false;
        break;
    case Simulator::Action::Unplug:
        unplug("unplug command");
        break;
    case Simulator::Action::Replug: {
        std::string error, replaced;
        if (plugIn(error, replaced)) {
            sim_.lineUp(line_.device());
            std::printf("Line plugged in again on port %d (%s)\n", options_.port,
                        line_.device().c_str());
        } else {
            sim_.replugFailed();
            std::printf("Cannot plug the line in: %s\n", error.c_str());
        }
        std::fflush(stdout);
        break;
    }
    }
}

void App::readStdin()
{
    char buf[1024];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        // End of input quits only at a terminal (Ctrl-D); a script's closed pipe does not.
        if (::isatty(STDIN_FILENO))
            running_ = false;
        stdinOpen_ = false;
        if (!stdinBuffer_.empty())
            handle(stdinBuffer_);
        stdinBuffer_.clear();
        return;
    }
    stdinBuffer_.append(buf, static_cast<std::size_t>(n));
    std::size_t eol;
    while (running_ && (eol = stdinBuffer_.find('\n')) != std::string::npos) {
        const std::string text = stdinBuffer_.substr(0, eol);
        stdinBuffer_.erase(0, eol + 1);
        handle(text);
    }
    if (stdinBuffer_.size() > 4096)
        stdinBuffer_.clear();
}

int App::run(int signalFd)
{
    std::string error;
    const std::string folder = portsFolder();
    if (!makeFolders(folder, error)) {
        std::fprintf(stderr, "velmora-sim: %s\n", error.c_str());
        return 1;
    }
    linkPath_ = folder + "/com" + std::to_string(options_.port);
    std::string replaced;
    if (!plugIn(error, replaced)) {
        std::fprintf(stderr, "velmora-sim: %s\n", error.c_str());
        return 1;
    }
    sim_.lineUp(line_.device());
    std::printf("Simulated robot ready on port %d (%s)\n", options_.port, line_.device().c_str());
    std::fflush(stdout);
    if (!replaced.empty() && replaced != line_.device())
        trace_.info(clock_.now(), "replaced the old link " + linkPath_ + " -> " + replaced);

    while (running_) {
        sim_.advance();
        flushWrites();
        if (sim_.unplugDue())
            unplug("unplug-after");
        if (sim_.replugDue())
            handle("replug");
        if (!running_)
            break;

        // To the nanosecond, not the millisecond: a paced byte is due every few hundred
        // microseconds. Waiting for the line to take more bytes is poll's job, not the clock's.
        const double wait = sim_.nextDeadline(!waitWritable_) - clock_.now();
        timespec timeout{};
        if (wait > 0 && wait != Simulator::kNever) {
            const auto ns = static_cast<long long>(std::ceil(std::min(wait, 60.0) * 1e9));
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        }

        pollfd fds[4];
        nfds_t n = 0;
        fds[n++] = {signalFd, POLLIN, 0};
        const nfds_t stdinAt = stdinOpen_ ? n++ : 99;
        if (stdinOpen_)
            fds[stdinAt] = {STDIN_FILENO, POLLIN, 0};
        const nfds_t watchAt = line_.watchFd() >= 0 ? n++ : 99;
        if (watchAt != 99)
            fds[watchAt] = {line_.watchFd(), POLLIN, 0};
        const nfds_t lineAt = line_.isOpen() ? n++ : 99;
        if (lineAt != 99)
            fds[lineAt] = {line_.master(),
                           static_cast<short>(POLLIN | (waitWritable_ ? POLLOUT : 0)), 0};

        if (::ppoll(fds, n, wait == Simulator::kNever ? nullptr : &timeout, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("velmora-sim: ppoll");
            return 1;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(signalFd, &info, sizeof info) > 0)
                trace_.info(clock_.now(),
                            std::string("signal ") + strsignal(static_cast<int>(info.ssi_signo)));
            running_ = false;
            break;
        }
        // Opens and closes first, so an answer is never flushed away by a close seen late.
        if (watchAt != 99 && fds[watchAt].revents) {
            switch (line_.readWatch()) {
            case PtyLine::Change::Opened:
                trace_.info(clock_.now(), "line opened by the other end");
                break;
            case PtyLine::Change::Closed:
                trace_.info(clock_.now(), "line closed by the other end");
                break;
            case PtyLine::Change::None:
                break;
            }
        }
        if (lineAt != 99 && line_.isOpen()) {
            if (fds[lineAt].revents & POLLIN)
                readLine();
            if (fds[lineAt].revents & POLLOUT)
                flushWrites();
        }
        if (stdinAt != 99 && (fds[stdinAt].revents & (POLLIN | POLLHUP | POLLERR)))
            readStdin();
    }
    removeLink(linkPath_, line_.device());
    line_.close();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    const std::string err = parseOptions(std::vector<std::string>(argv + 1, argv + argc), options);
    if (!err.empty()) {
        std::fprintf(stderr, "velmora-sim: %s\n%s", err.c_str(), usage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(usage().c_str(), stdout);
        std::fputs(Simulator::help().c_str(), stdout);
        return 0;
    }

    std::signal(SIGPIPE, SIG_IGN);
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGINT);
    sigaddset(&quitSignals, SIGTERM);
    sigaddset(&quitSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &quitSignals, nullptr);
    const int signalFd = ::signalfd(-1, &quitSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        std::perror("velmora-sim: signalfd");
        return 1;
    }

    MonotonicClock clock;
    Trace trace(clock.now());
    if (!options.quiet)
        trace.setText(stdout);
    std::FILE *json = nullptr;
    if (!options.traceFile.empty()) {
        json = std::fopen(options.traceFile.c_str(), "w");
        if (!json) {
            std::fprintf(stderr, "velmora-sim: cannot write %s: %s\n", options.traceFile.c_str(),
                         std::strerror(errno));
            return 1;
        }
        trace.setJson(json);
    }
    int rc;
    {
        App app(options, trace, clock);
        rc = app.run(signalFd);
    }
    if (json)
        std::fclose(json);
    ::close(signalFd);
    return rc;
}
