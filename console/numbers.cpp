#include "console/numbers.h"

namespace velmora::console
{

std::optional<int> parseWholeNumber(const QString &text, int lowest, int highest)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        negative = t[i] == u'-';
        ++i;
    }
    if (i == t.size())
        return std::nullopt;
    // Saturates instead of overflowing: anything this large is out of every range we use.
    constexpr long long kCap = 1LL << 40;
    long long value = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        if (value < kCap)
            value = value * 10 + (c - u'0');
    }
    if (negative)
        value = -value;
    if (value < lowest || value > highest)
        return std::nullopt;
    return static_cast<int>(value);
}

} // namespace velmora::console
