#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace velmora::sim
{

// What crossed the line and what happened, with times in seconds since start:
// readable lines on one stream, JSON lines (flushed one by one) on another.
class Trace
{
public:
    enum class Dir { Rx, Tx, Info };

    struct Entry {
        double t;
        Dir dir;
        std::vector<std::uint8_t> bytes;
        std::string meaning;
    };

    explicit Trace(double t0) : t0_(t0) {}

    void setText(std::FILE *out) { text_ = out; }
    // Writes the first line, which ties "t" to the monotonic clock: t0 is its reading at t = 0.
    void setJson(std::FILE *out);
    // Keeps entries in memory too, for tests.
    void setRecording(bool on) { recording_ = on; }
    const std::vector<Entry> &entries() const { return entries_; }
    void clearEntries() { entries_.clear(); }

    void rx(double now, const std::vector<std::uint8_t> &bytes, const std::string &meaning)
    {
        add(now, Dir::Rx, bytes, meaning);
    }
    void tx(double now, const std::vector<std::uint8_t> &bytes, const std::string &meaning)
    {
        add(now, Dir::Tx, bytes, meaning);
    }
    void info(double now, const std::string &meaning) { add(now, Dir::Info, {}, meaning); }

    double t0() const { return t0_; }

    // While held, lines are kept back (times as when they happened) and written on release:
    // the owner of the line answers first and writes about it afterwards.
    void hold() { held_ = true; }
    void release();

private:
    void emit(std::FILE *out, const std::string &line);

    void add(double now, Dir dir, const std::vector<std::uint8_t> &bytes,
             const std::string &meaning);

    double t0_;
    std::FILE *text_ = nullptr;
    std::FILE *json_ = nullptr;
    bool recording_ = false;
    bool held_ = false;
    std::vector<std::pair<std::FILE *, std::string>> pending_;
    std::vector<Entry> entries_;
};

// A JSON string literal; bytes that are not printable ASCII become \u00XX.
std::string jsonString(const std::string &s);
// "1 byte", "3 bytes": a count in trace wording.
std::string plural(std::size_t n, const char *one);

} // namespace velmora::sim
