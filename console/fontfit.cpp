#include "console/fontfit.h"

#include "console/frmabout.h"
#include "console/frmbtname.h"
#include "console/twips.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <optional>

namespace velmora::console
{

namespace
{

// The style options a control paints itself with; its initStyleOption is protected.
struct ButtonOption : QPushButton {
    static QStyleOptionButton of(const QPushButton *button)
    {
        QStyleOptionButton option;
        (button->*(&ButtonOption::initStyleOption))(&option);
        return option;
    }
};
struct LineEditOption : QLineEdit {
    static QStyleOptionFrame of(const QLineEdit *edit)
    {
        QStyleOptionFrame option;
        (edit->*(&LineEditOption::initStyleOption))(&option);
        return option;
    }
};
struct GroupBoxOption : QGroupBox {
    static QStyleOptionGroupBox of(const QGroupBox *box)
    {
        QStyleOptionGroupBox option;
        (box->*(&GroupBoxOption::initStyleOption))(&option);
        return option;
    }
};

// What a line edit keeps free on each side of its text, inside its contents rect.
constexpr int kLineEditInnerMargin = 2;

// Captions the handlers put on later; they must fit as well as the ones at start-up.
const LaterCaptions kConsoleLaterCaptions{
    {QStringLiteral("btnPort"), QStringLiteral("Disconnect")},
    {QStringLiteral("GetSensorData"), QStringLiteral("Stop Live Sensor Data")}};

// A push button centres its text in its contents rect, and sizes itself to keep the style's
// button margin around it.
QSizeF buttonNeeds(const QPushButton *button, const QString &text)
{
    const QStyleOptionButton option = ButtonOption::of(button);
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
    const QFontMetricsF fm(button->font(), button);
    return {fm.horizontalAdvance(text) + margin, fm.height() + margin};
}

QSizeF buttonRoom(const QPushButton *button)
{
    const QStyleOptionButton option = ButtonOption::of(button);
    return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).size();
}

// A line edit scrolls its text once the rounded width and a pixel for the cursor do not fit
// between its inner margins; a first or last glyph that reaches out of its advance needs more.
CaptionFit lineEditFit(const QLineEdit *edit)
{
    const QStyleOptionFrame option = LineEditOption::of(edit);
    const QRect contents = edit->style()
                               ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                               .marginsRemoved(edit->textMargins());
    const QString text = edit->text();
    const QFontMetricsF fm(edit->font(), edit);
    qreal width = std::round(fm.horizontalAdvance(text)) + 1 + 2 * kLineEditInnerMargin;
    if (!text.isEmpty())
        width += qMax<qreal>(0, -fm.leftBearing(text.front())) +
                 qMax<qreal>(0, -fm.rightBearing(text.back()));
    return {{}, text, QSizeF(width, fm.height()), contents.size()};
}

CaptionFit labelFit(const QLabel *label)
{
    const int margin = label->margin();
    QRectF room = QRectF(label->contentsRect()).adjusted(margin, margin, -margin, -margin);
    room.setWidth(room.width() - qMax(0, label->indent()));
    const int flags = Qt::AlignLeft | Qt::AlignTop | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QFontMetricsF fm(label->font(), label);
    const QRectF laidOut =
        fm.boundingRect(QRectF(0, 0, room.width(), QWIDGETSIZE_MAX), flags, label->text());
    return {{}, label->text(), laidOut.size(), room.size()};
}

// A frame's title stays inside the frame, as far from its right end as from its left, and
// clear of the controls below it.
CaptionFit groupBoxFit(const QGroupBox *box)
{
    const QStyleOptionGroupBox option = GroupBoxOption::of(box);
    const QRect title =
        box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    const qreal text = QFontMetricsF(box->font(), box).horizontalAdvance(box->title());
    int clear = box->height();
    for (const QWidget *child : box->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        clear = std::min(clear, child->y());
    return {{},
            box->title(),
            QSizeF(title.left() + std::max<qreal>(title.width(), text) + title.left(),
                   title.top() + title.height()),
            QSizeF(box->width(), clear)};
}

// Menu titles and items: the bar and the popup size themselves to their texts, but an item
// the bar has no room for goes into its overflow and has no place of its own.
void menuFits(const QWidget *menu, const QString &window, QList<CaptionFit> &out)
{
    const auto *bar = qobject_cast<const QMenuBar *>(menu);
    const auto *popup = qobject_cast<const QMenu *>(menu);
    const QFontMetricsF fm(menu->font(), menu);
    for (QAction *item : menu->actions()) {
        if (item->isSeparator() || !item->isVisible())
            continue;
        const QRect place = bar ? bar->actionGeometry(item) : popup->actionGeometry(item);
        const QString name = item->menu() ? item->menu()->objectName() : item->objectName();
        out.append({window + QLatin1Char('.') + name, item->text(),
                    QSizeF(fm.horizontalAdvance(item->text()), fm.height()), place.size()});
    }
}

void collect(QWidget *parent, const QString &window, const LaterCaptions &later,
             QList<CaptionFit> &out)
{
    for (QObject *object : parent->children()) {
        auto *w = qobject_cast<QWidget *>(object);
        // Other windows are measured on their own; menus are windows only while they pop up.
        if (!w || (w->isWindow() && !qobject_cast<QMenu *>(w)))
            continue;
        const QString name = window + QLatin1Char('.') + w->objectName();
        if (auto *button = qobject_cast<QPushButton *>(w)) {
            QStringList texts{button->text()};
            texts += later.values(w->objectName());
            for (const QString &text : texts)
                out.append({name, text, buttonNeeds(button, text), buttonRoom(button)});
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            out.append(lineEditFit(edit));
            out.last().control = name;
        } else if (auto *label = qobject_cast<QLabel *>(w)) {
            out.append(labelFit(label));
            out.last().control = name;
        } else if (auto *box = qobject_cast<QGroupBox *>(w)) {
            out.append(groupBoxFit(box));
            out.last().control = name;
        } else if (qobject_cast<QMenuBar *>(w) || qobject_cast<QMenu *>(w)) {
            menuFits(w, window, out);
        }
        collect(w, window, later, out);
    }
}

QString describeCaptions(const QList<CaptionFit> &captions)
{
    QStringList parts;
    for (const CaptionFit &c : captions)
        parts << QStringLiteral("%1 \"%2\" (needs %3 x %4 px, has %5 x %6)")
                     .arg(c.control, c.text)
                     .arg(c.needed.width(), 0, 'f', 1)
                     .arg(c.needed.height(), 0, 'f', 1)
                     .arg(c.room.width())
                     .arg(c.room.height());
    return parts.join(QStringLiteral("; "));
}

std::optional<FontFit> &consoleFit()
{
    static std::optional<FontFit> fit;
    return fit;
}

} // namespace

qreal designPointSize()
{
    return consoleFit() ? consoleFit()->pointSize : kDesignPointSize;
}

QList<CaptionFit> measureCaptions(QWidget *window, const LaterCaptions &later)
{
    // A window not shown yet has not laid out its menu bar.
    window->ensurePolished();
    if (QLayout *layout = window->layout())
        layout->activate();
    QList<CaptionFit> captions;
    collect(window, window->objectName(), later, captions);
    return captions;
}

void applyDesignFont(QWidget *window, qreal pointSize)
{
    const QFont font = designFont(pointSize);
    window->setFont(font);
    for (QMenu *menu : window->findChildren<QMenu *>())
        menu->setFont(font);
}

FontFit fitDesignFont(const QList<QWidget *> &windows, const LaterCaptions &later)
{
    FontFit fit{{}, kDesignPointSize, {}, {}};
    for (int step = 0;; ++step) {
        const qreal size = kDesignPointSize - step * kFitStep;
        QList<CaptionFit> misfits;
        for (QWidget *window : windows) {
            applyDesignFont(window, size);
            for (const CaptionFit &caption : measureCaptions(window, later)) {
                if (!caption.fits())
                    misfits.append(caption);
            }
        }
        if (step == 0)
            fit.tooWideAtDesignSize = misfits;
        fit.pointSize = size;
        fit.misfits = misfits;
        if (misfits.isEmpty() || size - kFitStep < kFloorPointSize)
            break;
    }
    fit.family = QFontInfo(designFont(fit.pointSize)).family();
    return fit;
}

const FontFit &fitConsoleFont(QWidget *mainWindow)
{
    std::optional<FontFit> &fit = consoleFit();
    if (fit) {
        applyDesignFont(mainWindow, fit->pointSize);
        return *fit;
    }
    // The other two windows are made on first use; scratch copies stand in for them now.
    FrmAbout about;
    FrmBTName rename(nullptr, nullptr);
    fit = fitDesignFont({mainWindow, &about, &rename}, kConsoleLaterCaptions);
    if (!fit->misfits.isEmpty())
        qWarning("Velmora: %s", qPrintable(describeFit(*fit)));
    return *fit;
}

QString describeFit(const FontFit &fit)
{
    QString line = QStringLiteral("captions in %1 %2 pt").arg(fit.family).arg(fit.pointSize);
    if (!fit.misfits.isEmpty())
        return line + QStringLiteral("; too wide even there: ") + describeCaptions(fit.misfits);
    line += QStringLiteral("; every caption fits");
    if (!fit.tooWideAtDesignSize.isEmpty())
        line += QStringLiteral(" (at %1 pt too wide: %2)")
                    .arg(kDesignPointSize)
                    .arg(describeCaptions(fit.tooWideAtDesignSize));
    return line;
}

} // namespace velmora::console
