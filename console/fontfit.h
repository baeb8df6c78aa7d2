#pragma once

#include <QList>
#include <QMultiHash>
#include <QSizeF>
#include <QString>

class QWidget;

namespace velmora::console
{

// One caption against the room its control's style leaves for it, in logical pixels: inside
// the frame and the style's own margins, as the control itself lays the text out.
struct CaptionFit {
    QString control; // window and object name, e.g. "frmMain.GetSensorData"
    QString text;
    QSizeF needed;
    QSizeF room;

    bool fits() const { return needed.width() <= room.width() && needed.height() <= room.height(); }
};

// Later captions of a control, by object name: texts its handlers put on it after start-up.
using LaterCaptions = QMultiHash<QString, QString>;

// Every caption of the window, measured in the font each control has now: buttons, text boxes
// with their text, labels (wrapped ones by the height of their lines), frame titles (which
// must stay clear of the controls below them), and the titles and items of its menus. Windows
// that are children of this one are left out.
QList<CaptionFit> measureCaptions(QWidget *window, const LaterCaptions &later = {});

// Puts the design font at the given size on the window and its menus (popups do not take
// their window's font by themselves). A control with a font of its own keeps it.
void applyDesignFont(QWidget *window, qreal pointSize);

struct FontFit {
    QString family;  // the face fontconfig handed back for the design font
    qreal pointSize; // the size chosen
    QList<CaptionFit> tooWideAtDesignSize;
    QList<CaptionFit> misfits; // still too wide at the chosen size, which is then the floor
};

inline constexpr qreal kFloorPointSize = 6;
inline constexpr qreal kFitStep = 0.5;

// Steps the design font down from the design size by kFitStep until every caption of the
// windows fits, but not below kFloorPointSize; the windows are left in the size chosen.
FontFit fitDesignFont(const QList<QWidget *> &windows, const LaterCaptions &later = {});

// The console's fit, worked out on the first call from this main window, a scratch About
// window and a scratch rename dialog, and kept for the process: from then on designFont()
// has its size, so the windows made later share it. Puts the font on the main window. A
// caption that cannot fit even at the floor is named in a warning on standard error.
const FontFit &fitConsoleFont(QWidget *mainWindow);

// One line on the fit: the face, the size, what did not fit at the design size, what still
// does not fit.
QString describeFit(const FontFit &fit);

} // namespace velmora::console
