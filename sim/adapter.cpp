#include "sim/adapter.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace velmora::sim
{

namespace
{

constexpr int kDeviceDetectPin = 6;
constexpr const char *kOk = "OK\r\n";
constexpr const char *kError = "ERROR\r\n";

bool startsWithNoCase(const std::string &s, const char *prefix)
{
    std::size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= s.size() || std::toupper(static_cast<unsigned char>(s[i])) != prefix[i])
            return false;
    }
    return true;
}

// "a,b,c" after a prefix: exactly three whole numbers.
bool threeNumbers(const std::string &s, int (&out)[3])
{
    const char *p = s.data();
    const char *end = s.data() + s.size();
    for (int i = 0; i < 3; ++i) {
        auto [next, ec] = std::from_chars(p, end, out[i]);
        if (ec != std::errc() || next == p)
            return false;
        p = next;
        if (i < 2) {
            if (p == end || *p != ',')
                return false;
            ++p;
        }
    }
    return p == end;
}

} // namespace

BluetoothAdapter::Result BluetoothAdapter::push(std::uint8_t byte)
{
    if (!commandMode_) {
        std::rotate(recent_.begin(), recent_.begin() + 1, recent_.end());
        recent_.back() = byte;
        if (recent_ == std::array<std::uint8_t, 4>{'+', '+', '+', '\r'}) {
            recent_ = {};
            commandMode_ = true;
            line_ = {{'+', '+', '+', '\r'}, "AT +++ (command mode)", kOk, true};
            return Result::LineDone;
        }
        return Result::ToRobot;
    }
    if (byte == '\n')
        return Result::Consumed; // line feeds between lines are ignored
    pending_.push_back(byte);
    if (byte != '\r') {
        if (pending_.size() > kLineLimit) {
            // Too long for any command: forget it rather than grow.
            pending_.clear();
            overlong_ = true;
        }
        return Result::Consumed;
    }
    finishLine();
    return Result::LineDone;
}

void BluetoothAdapter::finishLine()
{
    line_ = {};
    line_.bytes.swap(pending_);
    std::string text(line_.bytes.begin(), line_.bytes.end() - 1);
    if (overlong_) {
        overlong_ = false;
        line_.meaning = "AT line too long (ignored)";
        line_.reply = kError;
        return;
    }
    execute(text);
}

void BluetoothAdapter::execute(const std::string &text)
{
    Line &l = line_;
    l.meaning = "AT " + text;
    l.reply = kOk;
    int n[3] = {};
    if (text.empty()) {
        l.meaning = "AT empty line";
        l.reply.clear();
    } else if (text == "+++") {
        l.meaning += " (already in command mode)";
    } else if (startsWithNoCase(text, "ATSW22,") && threeNumbers(text.substr(7), n)) {
        if (n[0] == kDeviceDetectPin) {
            pinOutput_ = n[1] == 1;
            l.meaning += pinOutput_ ? " (pin 6 output)" : " (pin 6 input)";
        } else {
            l.meaning += " (pin " + std::to_string(n[0]) + " is not connected)";
        }
    } else if (startsWithNoCase(text, "ATSW23,") && threeNumbers(text.substr(7), n)) {
        if (n[0] != kDeviceDetectPin) {
            l.meaning += " (pin " + std::to_string(n[0]) + " is not connected)";
        } else {
            const bool wasLow = deviceDetectLow();
            pinLevel_ = n[1] != 0;
            if (!pinOutput_)
                l.meaning +=
                    pinLevel_ ? " (pin 6 high, but an input)" : " (pin 6 low, but an input)";
            else if (deviceDetectLow())
                l.meaning += " (pin 6 low: Device Detect low)";
            else if (wasLow)
                l.meaning += " (pin 6 high: end of a Device Detect pulse)";
            else
                l.meaning += " (pin 6 high)";
        }
    } else if (startsWithNoCase(text, "ATSN,")) {
        name_ = text.substr(5, kNameLimit);
        l.meaning += " (renamed to \"" + name_ + "\"";
        l.meaning += text.size() - 5 > kNameLimit ? ", cut to 16 characters)" : ")";
    } else if (startsWithNoCase(text, "ATMD") && text.size() == 4) {
        commandMode_ = false;
        l.meaning += " (data mode)";
    } else if (startsWithNoCase(text, "AT") && text.size() == 2) {
    } else {
        l.meaning += " (unknown command)";
        l.reply = kError;
    }
}

} // namespace velmora::sim
