#pragma once

#include "sim/clock.h"
#include "sim/line.h"
#include "sim/options.h"
#include "sim/simulator.h"
#include "sim/trace.h"

#include <cstdio>
#include <string>

namespace velmora::sim
{

// velmora-sim as a program: the simulator behind a pseudo-terminal linked as its port,
// commands from standard input, the trace on standard output and in a file, and an end on
// `quit` or a quitting signal.
class App
{
public:
    explicit App(const Options &options);
    ~App();
    App(const App &) = delete;
    App &operator=(const App &) = delete;

    // Serves the line until the end; the exit code (1: it could not start or wait).
    int run();

private:
    bool setUp(std::string &error);
    bool plugIn(std::string &error, std::string &replaced);
    void unplug(const std::string &why);
    // Everything due now: the world moved on, writes, timed unplugs and replugs.
    void serveDue();
    // One wait for input, a signal or the next deadline, and what came; false if it failed.
    bool waitAndServe();
    void flushWrites();
    void readLine();
    void readWatch();
    void readStdin();
    void handle(const std::string &line);

    Options options_;
    MonotonicClock clock_;
    Trace trace_;
    Simulator sim_;
    PtyLine line_;
    int signalFd_ = -1;
    std::FILE *json_ = nullptr;
    std::string linkPath_;
    bool waitWritable_ = false;
    bool stdinOpen_ = true;
    bool running_ = true;
    std::string stdinBuffer_;
};

} // namespace velmora::sim
