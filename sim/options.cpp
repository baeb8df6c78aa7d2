#include "sim/options.h"

#include "sim/robot.h"
#include "sim/sciprotocol.h"

#include <charconv>
#include <cmath>
#include <numbers>

namespace velmora::sim
{

namespace
{

constexpr long kMaxMs = 86'400'000;
constexpr long kMaxBytes = 4096;

const char *const kFaultNames[] = {"split",       "gap",          "stray-before",
                                   "stray-after", "drop-every",   "delay",
                                   "extra-byte",  "unplug-after", "replug-after"};

bool isFaultName(const std::string &a)
{
    for (const char *n : kFaultNames) {
        if (a == n || a.starts_with(std::string(n) + "="))
            return true;
    }
    return false;
}

// "--name=value" becomes "--name" "value"; a bare fault name becomes "--name" when allowed.
std::vector<std::string> normalize(const std::vector<std::string> &args, bool addDashes)
{
    std::vector<std::string> out;
    for (std::string a : args) {
        if (addDashes && isFaultName(a))
            a = "--" + a;
        const auto eq = a.find('=');
        if (a.starts_with("--") && eq != std::string::npos) {
            out.push_back(a.substr(0, eq));
            out.push_back(a.substr(eq + 1));
        } else {
            out.push_back(a);
        }
    }
    return out;
}

class Reader
{
public:
    explicit Reader(std::vector<std::string> args) : args_(std::move(args)) {}
    bool done() const { return i_ >= args_.size(); }
    const std::string &next() { return args_[i_++]; }
    bool peekIs(const char *a, const char *b) const
    {
        return i_ < args_.size() && (args_[i_] == a || args_[i_] == b);
    }
    std::optional<std::string> value()
    {
        if (done())
            return std::nullopt;
        return args_[i_++];
    }

private:
    std::vector<std::string> args_;
    std::size_t i_ = 0;
};

std::string needs(const std::string &opt, const char *what)
{
    return opt + " needs " + what;
}

// One fault option at r's position (opt already read). Empty: handled; "?": not a fault option.
std::string takeFault(const std::string &opt, Reader &r, Faults &f)
{
    auto number = [&](long lo, long hi, int &into, const char *what,
                      bool offAllowed) -> std::string {
        const auto v = r.value();
        if (!v)
            return needs(opt, what);
        if (offAllowed && *v == "off") {
            into = -1;
            return {};
        }
        const auto n = parseNumber(*v, lo, hi);
        if (!n)
            return needs(opt, what) + ", not \"" + *v + "\"";
        into = static_cast<int>(*n);
        return {};
    };
    if (opt == "--split") {
        const auto v = r.value();
        const char *what = "A,B: two piece sizes from 1 to 4096 bytes (or off)";
        if (!v)
            return needs(opt, what);
        if (*v == "off") {
            f.splitFirst = f.splitRest = 0;
            return {};
        }
        const auto comma = v->find(',');
        const auto a = comma == std::string::npos ? std::nullopt
                                                  : parseNumber(v->substr(0, comma), 1, kMaxBytes);
        const auto b = comma == std::string::npos ? std::nullopt
                                                  : parseNumber(v->substr(comma + 1), 1, kMaxBytes);
        if (!a || !b)
            return needs(opt, what) + ", not \"" + *v + "\"";
        f.splitFirst = static_cast<int>(*a);
        f.splitRest = static_cast<int>(*b);
        return {};
    }
    if (opt == "--gap")
        return number(0, kMaxMs, f.gapMs, "milliseconds", false);
    if (opt == "--stray-before")
        return number(0, kMaxBytes, f.strayBefore, "a byte count", false);
    if (opt == "--stray-after")
        return number(0, kMaxBytes, f.strayAfter, "a byte count", false);
    if (opt == "--drop-every")
        return number(0, 1'000'000, f.dropEvery, "a count (0: none)", false);
    if (opt == "--delay")
        return number(0, kMaxMs, f.delayMs, "milliseconds", false);
    if (opt == "--unplug-after")
        return number(0, kMaxMs, f.unplugAfterMs, "milliseconds (or off)", true);
    if (opt == "--replug-after")
        return number(0, kMaxMs, f.replugAfterMs, "milliseconds (or off)", true);
    if (opt == "--extra-byte") {
        f.extraByte = true;
        if (r.peekIs("on", "off"))
            f.extraByte = r.next() == "on";
        return {};
    }
    return "?";
}

} // namespace

std::optional<long> parseNumber(const std::string &text, long lo, long hi)
{
    long v = 0;
    const char *end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || p != end || v < lo || v > hi)
        return std::nullopt;
    return v;
}

namespace
{

std::string faultsError(const std::vector<std::string> &args, Faults &faults)
{
    if (args.size() == 1 && (args[0] == "off" || args[0] == "none" || args[0] == "clear")) {
        faults = Faults{};
        return {};
    }
    Faults f = faults;
    Reader r(normalize(args, true));
    while (!r.done()) {
        const std::string opt = r.next();
        const std::string err = takeFault(opt, r, f);
        if (err == "?")
            return "unknown fault option \"" + opt + "\"";
        if (!err.empty())
            return err;
    }
    faults = f;
    return {};
}

std::string optionsError(const std::vector<std::string> &args, Options &options)
{
    Options o = options;
    Reader r(normalize(args, false));
    while (!r.done()) {
        const std::string opt = r.next();
        if (opt == "--help" || opt == "-h") {
            o.help = true;
        } else if (opt == "--port") {
            const auto v = r.value();
            const auto n = v ? parseNumber(*v, 1, 32767) : std::nullopt;
            if (!n)
                return "--port needs a number from 1 to 32767";
            o.port = static_cast<int>(*n);
        } else if (opt == "--asleep") {
            o.asleep = true;
        } else if (opt == "--wake-ms") {
            const auto v = r.value();
            const auto n = v ? parseNumber(*v, 0, kMaxMs) : std::nullopt;
            if (!n)
                return "--wake-ms needs milliseconds";
            o.wakeMs = static_cast<int>(*n);
        } else if (opt == "--off") {
            o.off = true;
        } else if (opt == "--baud") {
            const auto v = r.value();
            const auto n = v ? parseNumber(*v, 1, 1'000'000) : std::nullopt;
            if (!n || !isRobotBaudRate(static_cast<int>(*n)))
                return "--baud needs one of the robot's rates: " + robotBaudRates();
            o.baud = static_cast<int>(*n);
        } else if (opt == "--adapter-replies") {
            o.adapterReplies = true;
        } else if (opt == "--quiet") {
            o.quiet = true;
        } else if (opt == "--pace") {
            const auto v = r.value();
            const auto n = v ? parseNumber(*v, 300, 1'000'000) : std::nullopt;
            if (!n)
                return "--pace needs a baud rate from 300 to 1000000";
            o.paceBaud = static_cast<int>(*n);
        } else if (opt == "--trace") {
            const auto v = r.value();
            if (!v || v->empty())
                return "--trace needs a file name";
            o.traceFile = *v;
        } else if (opt == "--pose") {
            const auto v = r.value();
            const char *what =
                "--pose needs X,Y,DEG: millimetres from the room's south-west corner and a heading";
            if (!v)
                return what;
            const auto c1 = v->find(',');
            const auto c2 = c1 == std::string::npos ? c1 : v->find(',', c1 + 1);
            if (c2 == std::string::npos)
                return what;
            const auto x = parseNumber(v->substr(0, c1), 0, 100000);
            const auto y = parseNumber(v->substr(c1 + 1, c2 - c1 - 1), 0, 100000);
            const auto d = parseNumber(v->substr(c2 + 1), -360, 360);
            if (!x || !y || !d)
                return what;
            o.pose = Pose{static_cast<double>(*x), static_cast<double>(*y),
                          static_cast<double>(*d) * std::numbers::pi / 180};
        } else {
            const std::string err = takeFault(opt, r, o.faults);
            if (err == "?")
                return "unknown option \"" + opt + "\"";
            if (!err.empty())
                return err;
        }
    }
    options = o;
    return {};
}

} // namespace

bool parseFaults(const std::vector<std::string> &args, Faults &faults, std::string &error)
{
    error = faultsError(args, faults);
    return error.empty();
}

bool parseOptions(const std::vector<std::string> &args, Options &options, std::string &error)
{
    error = optionsError(args, options);
    return error.empty();
}

std::string usage()
{
    return "usage: velmora-sim [options]\n"
           "Plays the robot and its Bluetooth adapter on a pseudo-terminal linked as port N.\n"
           "  --port N              port number (default 99)\n"
           "  --asleep              the robot sleeps until the adapter's AT pulse wakes it\n"
           "                        (pin 6 held low for at least " +
           std::to_string(std::lround(Robot::kMinWakePulseSeconds * 1000)) +
           " ms)\n"
           "  --wake-ms N           after a wake-up the robot ignores everything for N ms\n"
           "                        (default " +
           std::to_string(Options{}.wakeMs) +
           ", the robot's \"about 2 s\"; without --asleep it\n"
           "                        starts awake, so this counts only after it has slept)\n"
           "  --off                 the robot is switched off: nothing is ever answered, not\n"
           "                        even after a wake-up\n"
           "  --baud RATE           the robot's line speed (default 57600); over a cable a\n"
           "                        console at another speed gets, and sends, what a UART\n"
           "                        makes of it; the Bluetooth adapter talks to the robot at\n"
           "                        RATE whatever speed the console sets\n"
           "  --adapter-replies     the adapter answers each AT line (\"OK\" or \"ERROR\")\n"
           "  --trace FILE          JSON lines of everything received and sent\n"
           "  --quiet               no trace on standard output\n"
           "  --pace BAUD           send everything a byte at a time at BAUD (10 bits a byte;\n"
           "                        57600: a 26-byte answer takes 4.5 ms); default: at once\n"
           "  --pose X,Y,DEG        where the robot starts (mm, mm, degrees; room is 4000 x 3000)\n"
           "Faults (also at run time: fault ...):\n"
           "  --split A,B --gap MS  sensor answers in pieces of A, then B bytes, MS ms apart\n"
           "  --stray-before N      N stray bytes (0xAA) before each answer\n"
           "  --stray-after N       N stray bytes (0xAA) after each answer\n"
           "  --drop-every N        leave out every Nth answer\n"
           "  --delay MS            delay every answer\n"
           "  --extra-byte          one extra byte (0x00) after each answer\n"
           "  --unplug-after MS     unplug the line after MS ms\n"
           "  --replug-after MS     plug it back in MS ms after each unplug (with --unplug-after: "
           "repeat)\n";
}

} // namespace velmora::sim
