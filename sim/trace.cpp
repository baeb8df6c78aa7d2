#include "sim/trace.h"

namespace velmora::sim
{

namespace
{
// "1 2 3" for the text trace, "1,2,3" for JSON.
std::string joinBytes(const std::vector<std::uint8_t> &bytes, char separator)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            out += separator;
        out += std::to_string(bytes[i]);
    }
    return out;
}
} // namespace

std::string plural(std::size_t n, const char *one)
{
    return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

std::string jsonString(const std::string &s)
{
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

void Trace::setJson(std::FILE *out)
{
    json_ = out;
    if (json_) {
        std::fprintf(json_, "{\"t\":0,\"dir\":\"info\",\"clock\":\"monotonic\",\"t0\":%.6f}\n",
                     t0_);
        std::fflush(json_);
    }
}

void Trace::add(double now, Dir dir, const std::vector<std::uint8_t> &bytes,
                const std::string &meaning)
{
    const double t = now - t0_;
    if (recording_)
        entries_.push_back({t, dir, bytes, meaning});
    const char *name = dir == Dir::Rx ? "rx" : dir == Dir::Tx ? "tx" : "info";
    if (text_) {
        std::string line;
        char head[48];
        std::snprintf(head, sizeof head, "%10.6f %-4s ", t, name);
        line = head;
        // Names typed into the adapter could carry terminal control sequences.
        for (const char ch : meaning) {
            const auto c = static_cast<unsigned char>(ch);
            if (c < 0x20 || c == 0x7f) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\x%02x", c);
                line += esc;
            } else {
                line += ch;
            }
        }
        if (!bytes.empty()) {
            line += "  [";
            line += joinBytes(bytes, ' ');
            line += "]";
        }
        emit(text_, line + "\n");
    }
    if (json_) {
        std::string line;
        char head[64];
        std::snprintf(head, sizeof head, "{\"t\":%.6f,\"dir\":\"%s\"", t, name);
        line = head;
        if (dir != Dir::Info) {
            line += ",\"bytes\":[";
            line += joinBytes(bytes, ',');
            line += "]";
        }
        line += ",\"meaning\":" + jsonString(meaning) + "}\n";
        emit(json_, line);
    }
}

void Trace::emit(std::FILE *out, const std::string &line)
{
    if (held_) {
        pending_.emplace_back(out, line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), out);
    std::fflush(out);
}

void Trace::release()
{
    held_ = false;
    for (const auto &[out, line] : pending_)
        emit(out, line);
    pending_.clear();
}

} // namespace velmora::sim
