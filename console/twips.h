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

// The font the layout was drawn for, with look-alikes where it is missing: the captions
// fit their controls only in a font about this narrow.
inline QFont designFont(qreal pointSize = 8)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    font.setPointSizeF(pointSize);
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace velmora::console
