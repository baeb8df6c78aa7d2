#pragma once

#include <QRect>
#include <QSize>

namespace velmora::console {

// The windows are laid out in twips; 15 twips are one pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

constexpr int px(int twipValue) { return twipValue / kTwipsPerPixel; }

constexpr QRect twips(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

constexpr QSize twipsSize(int width, int height) { return QSize(px(width), px(height)); }

} // namespace velmora::console
