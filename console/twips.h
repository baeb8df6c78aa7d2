#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QStringList>

namespace velmora::console
{

// The windows are laid out in twips; 15 twips are one pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

constexpr int px(int twipValue)
{
    return twipValue / kTwipsPerPixel;
}

constexpr QRect twips(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

constexpr QSize twipsSize(int width, int height)
{
    return QSize(px(width), px(height));
}

// The size the captions are drawn at: the design's 8 pt, or the smaller size the fitting chose
// where the face resolved here is wider (fontfit.h).
inline constexpr qreal kDesignPointSize = 8;
qreal designPointSize();

// The face the layout was drawn for. Liberation Sans (Debian's fonts-liberation2, which the
// project installs) has the widths of Arial, and the captions fit their controls in it; it is
// asked for by its own name first, so fontconfig resolves it without aliases.
inline QFont designFont(qreal pointSize = designPointSize())
{
    QFont font;
    font.setFamilies(
        {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("Helvetica")});
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace velmora::console
