#include "sim/app.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>
#include <optional>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace velmora::sim
{

namespace
{

// The descriptors one wait watches, each found again by the slot it was given; a descriptor
// not watched this time has no slot and reports nothing.
class PollSet
{
public:
    using Slot = std::optional<std::size_t>;

    Slot add(bool watched, int fd, short events)
    {
        if (!watched)
            return std::nullopt;
        fds_[count_] = {fd, events, 0};
        return count_++;
    }
    short revents(Slot slot) const { return slot ? fds_[*slot].revents : 0; }
    int wait(const timespec *timeout) { return ::ppoll(fds_.data(), count_, timeout, nullptr); }

private:
    std::array<pollfd, 4> fds_{};
    std::size_t count_ = 0;
};

std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

App::App(const Options &options)
    : options_(options), trace_(clock_.now()), sim_(options_, clock_, trace_)
{
    if (!options_.quiet)
        trace_.setText(stdout);
}

App::~App()
{
    trace_.setJson(nullptr);
    if (json_)
        std::fclose(json_);
    if (signalFd_ >= 0)
        ::close(signalFd_);
}

bool App::setUp(std::string &error)
{
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGINT);
    sigaddset(&quitSignals, SIGTERM);
    sigaddset(&quitSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &quitSignals, nullptr);
    signalFd_ = ::signalfd(-1, &quitSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd_ < 0) {
        error = errnoText("signalfd");
        return false;
    }
    if (!options_.traceFile.empty()) {
        json_ = std::fopen(options_.traceFile.c_str(), "w");
        if (!json_) {
            error = errnoText("cannot write " + options_.traceFile);
            return false;
        }
        trace_.setJson(json_);
    }
    const std::string folder = portsFolder();
    if (!makeFolders(folder, error))
        return false;
    linkPath_ = folder + "/com" + std::to_string(options_.port);
    std::string replaced;
    if (!plugIn(error, replaced))
        return false;
    sim_.lineUp(line_.device());
    std::printf("Simulated robot ready on port %d (%s)\n", options_.port, line_.device().c_str());
    std::fflush(stdout);
    if (!replaced.empty() && replaced != line_.device())
        trace_.info(clock_.now(), "replaced the old link " + linkPath_ + " -> " + replaced);
    return true;
}

int App::run()
{
    std::string error;
    if (!setUp(error)) {
        std::fprintf(stderr, "velmora-sim: %s\n", error.c_str());
        return 1;
    }
    int rc = 0;
    while (running_) {
        serveDue();
        if (running_ && !waitAndServe())
            rc = 1;
    }
    removeLink(linkPath_, line_.device());
    line_.close();
    return rc;
}

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

void App::serveDue()
{
    sim_.advance();
    flushWrites();
    if (sim_.unplugDue())
        unplug("unplug-after");
    if (sim_.replugDue())
        handle("replug");
}

bool App::waitAndServe()
{
    // To the nanosecond, not the millisecond: a paced byte is due every few hundred
    // microseconds. Waiting for the line to take more bytes is poll's job, not the clock's.
    const double wait = sim_.nextDeadline(!waitWritable_) - clock_.now();
    timespec timeout{};
    if (wait > 0 && wait != Simulator::kNever) {
        const auto ns = static_cast<long long>(std::ceil(std::min(wait, 60.0) * 1e9));
        timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    }

    PollSet fds;
    const PollSet::Slot signal = fds.add(true, signalFd_, POLLIN);
    const PollSet::Slot input = fds.add(stdinOpen_, STDIN_FILENO, POLLIN);
    const PollSet::Slot watch = fds.add(line_.watchFd() >= 0, line_.watchFd(), POLLIN);
    const PollSet::Slot line = fds.add(line_.isOpen(), line_.master(),
                                       static_cast<short>(POLLIN | (waitWritable_ ? POLLOUT : 0)));
    if (fds.wait(wait == Simulator::kNever ? nullptr : &timeout) < 0) {
        if (errno == EINTR)
            return true;
        std::perror("velmora-sim: ppoll");
        running_ = false;
        return false;
    }
    if (fds.revents(signal) & POLLIN) {
        signalfd_siginfo info;
        if (::read(signalFd_, &info, sizeof info) > 0)
            trace_.info(clock_.now(),
                        std::string("signal ") + strsignal(static_cast<int>(info.ssi_signo)));
        running_ = false;
        return true;
    }
    // Opens and closes first, so an answer is never flushed away by a close seen late.
    if (fds.revents(watch))
        readWatch();
    if (line_.isOpen()) {
        if (fds.revents(line) & POLLIN)
            readLine();
        if (fds.revents(line) & POLLOUT)
            flushWrites();
    }
    if (fds.revents(input) & (POLLIN | POLLHUP | POLLERR))
        readStdin();
    return true;
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
        // Read at every arrival: the other end may reopen at another speed at any time.
        sim_.setLineBaud(line_.baud());
        sim_.receive(buf, static_cast<std::size_t>(n));
        flushWrites();
        trace_.release();
    }
}

void App::readWatch()
{
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

} // namespace velmora::sim
