#include "sim/faults.h"

#include "sim/trace.h"

#include <algorithm>

namespace velmora::sim
{

std::string Faults::describe() const
{
    std::string s;
    auto add = [&](const std::string &part) { s += (s.empty() ? "" : ", ") + part; };
    if (splitFirst > 0)
        add("split " + std::to_string(splitFirst) + "," + std::to_string(splitRest) + " gap " +
            std::to_string(gapMs) + " ms");
    if (strayBefore > 0)
        add("stray-before " + std::to_string(strayBefore));
    if (strayAfter > 0)
        add("stray-after " + std::to_string(strayAfter));
    if (dropEvery > 0)
        add("drop-every " + std::to_string(dropEvery));
    if (delayMs > 0)
        add("delay " + std::to_string(delayMs) + " ms");
    if (extraByte)
        add("extra-byte");
    if (unplugAfterMs >= 0)
        add("unplug-after " + std::to_string(unplugAfterMs) + " ms");
    if (replugAfterMs >= 0)
        add("replug-after " + std::to_string(replugAfterMs) + " ms");
    return s.empty() ? "none" : s;
}

std::vector<AnswerWrite> shapeAnswer(const Faults &f, const std::vector<std::uint8_t> &answer,
                                     const std::string &what)
{
    std::vector<std::uint8_t> run(static_cast<std::size_t>(f.strayBefore), kStrayByte);
    std::string notes = " (" + plural(answer.size(), "byte");
    if (f.strayBefore > 0)
        notes += ", " + std::to_string(f.strayBefore) + " stray before";
    run.insert(run.end(), answer.begin(), answer.end());
    if (f.extraByte) {
        run.push_back(kExtraByte);
        notes += ", extra byte";
    }
    if (f.strayAfter > 0) {
        run.insert(run.end(), static_cast<std::size_t>(f.strayAfter), kStrayByte);
        notes += ", " + std::to_string(f.strayAfter) + " stray after";
    }
    if (f.delayMs > 0)
        notes += ", delayed " + std::to_string(f.delayMs) + " ms";
    notes += ")";
    const double delay = f.delayMs / 1000.0;
    if (f.splitFirst <= 0)
        return {{delay, std::move(run), what + notes}};

    std::vector<AnswerWrite> out;
    std::size_t at = 0;
    std::size_t size = static_cast<std::size_t>(f.splitFirst);
    while (at < run.size()) {
        const std::size_t n = std::min(size, run.size() - at);
        const auto first = run.begin() + static_cast<std::ptrdiff_t>(at);
        out.push_back({delay + static_cast<double>(out.size()) * f.gapMs / 1000.0,
                       std::vector<std::uint8_t>(first, first + static_cast<std::ptrdiff_t>(n)),
                       {}});
        at += n;
        size = static_cast<std::size_t>(f.splitRest);
    }
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k].meaning =
            what + notes + ", piece " + std::to_string(k + 1) + " of " + std::to_string(out.size());
    return out;
}

} // namespace velmora::sim
