#pragma once

#include <QString>

#include <optional>

namespace velmora::console
{

// Reads text as one whole number: blanks around it, one optional sign, decimal digits.
// Returns nothing for anything else and for a number outside [lowest, highest].
std::optional<int> parseWholeNumber(const QString &text, int lowest, int highest);

} // namespace velmora::console
