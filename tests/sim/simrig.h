#pragma once

// The simulator core without a line, shared by its unit tests: bytes in, writes out, operator
// commands, and a clock stepped by hand.

#include "sim/simulator.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <memory>

namespace velmora::sim::test
{

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

// A signed 16-bit packet field, high byte first.
inline int field16(const QByteArray &p, int at)
{
    return static_cast<int16_t>(
        static_cast<uint16_t>(static_cast<uint8_t>(p[at]) << 8 | static_cast<uint8_t>(p[at + 1])));
}

inline QByteArray joined(const std::vector<std::uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), static_cast<qsizetype>(v.size()));
}

// The command line's options; the error, or an empty text.
inline QString parse(const QStringList &args, Options &options)
{
    std::vector<std::string> a;
    for (const QString &s : args)
        a.push_back(s.toStdString());
    std::string error;
    parseOptions(a, options, error);
    return QString::fromStdString(error);
}

inline const QByteArray kStart = bytes({128});
inline const QByteArray kSafe = bytes({128, 130});
inline const QByteArray kSensors0 = bytes({142, 0});
inline const QByteArray kFwd255 = bytes({137, 0, 255, 128, 0});
inline const QByteArray kHalt = bytes({137, 0, 0, 0, 0});

struct Rig {
    ManualClock clock{500.0};
    Trace trace{500.0};
    std::unique_ptr<Simulator> sim;

    explicit Rig(const Options &options = Options{})
    {
        trace.setRecording(true);
        sim = std::make_unique<Simulator>(options, clock, trace);
    }
    // Everything that has fallen due by now, as it would reach the line.
    QByteArray drain()
    {
        QByteArray out;
        while (const std::size_t n = sim->dueBytes()) {
            const Simulator::Write *w = sim->nextWrite();
            out.append(reinterpret_cast<const char *>(w->bytes.data() + sim->frontSent()),
                       static_cast<qsizetype>(n));
            sim->sent(n);
        }
        return out;
    }
    QByteArray send(const QByteArray &b)
    {
        sim->receive(reinterpret_cast<const std::uint8_t *>(b.constData()),
                     static_cast<std::size_t>(b.size()));
        return drain();
    }
    void wait(double seconds)
    {
        clock.advance(seconds);
        sim->advance();
    }
    // The adapter's AT wake-up with pin 6 held low for holdSeconds; what came back.
    QByteArray atWake(double holdSeconds)
    {
        QByteArray out = send("+++\rATSW22,6,1,1\rATSW23,6,0,1\r");
        wait(holdSeconds);
        return out + drain() + send("ATSW23,6,1,1\rATMD\r");
    }
    QString hands(const char *line) { return QString::fromStdString(sim->command(line).text); }
    QStringList meanings(Trace::Dir dir = Trace::Dir::Rx) const
    {
        QStringList out;
        for (const Trace::Entry &e : trace.entries()) {
            if (e.dir == dir)
                out << QString::fromStdString(e.meaning);
        }
        return out;
    }
    QString mode() { return QString::fromLatin1(modeName(robot().mode())); }
    Robot &robot() { return sim->robot(); }
};

} // namespace velmora::sim::test
