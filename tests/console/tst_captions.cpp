// Every caption of the three windows is drawn whole, in the face a machine resolves, at the
// scales of ordinary and high-density screens.
//
// A process takes its fonts and its scale once, at start, so each row runs this test again in
// a child process: fontconfig there offers only the row's faces (as a fresh Debian offers only
// DejaVu Sans), and Qt gets the row's scale. A caption counts as whole when its control draws
// as much of it as a control of the same kind with room to spare does, and, in a framed
// control, keeps clear of the frame.

#include "consoletest.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>

#include <functional>
#include <memory>

using velmora::test::Console;

namespace
{

const char kChildVar[] = "VELMORA_CAPTIONS_ROW";

// Clear space between a framed control's text and its frame, in pixels.
constexpr int kMargin = 1;

// fontconfig as the system has it, but offering only the given faces.
QByteArray fontsConf(const QStringList &faces)
{
    QByteArray conf = "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                      "<fontconfig>\n  <include>/etc/fonts/fonts.conf</include>\n"
                      "  <selectfont>\n";
    for (const QString &face : faces)
        conf += "    <acceptfont><pattern><patelt name=\"family\"><string>" + face.toUtf8() +
                "</string></patelt></pattern></acceptfont>\n";
    return conf + "    <rejectfont><pattern/></rejectfont>\n  </selectfont>\n</fontconfig>\n";
}

// The device pixels where two drawings of a widget differ.
QRect difference(const QImage &a, const QImage &b)
{
    QRect box;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y))
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// The device pixels a caption puts on its control: the control drawn with it and with
// `blank` in its place.
QRect inkOf(QWidget *control, const std::function<void(const QString &)> &setText,
            const QString &text, const QString &blank)
{
    const QImage with = control->grab().toImage();
    setText(blank);
    const QImage without = control->grab().toImage();
    setText(text);
    return difference(with, without);
}

struct Caption {
    QWidget *control;
    QString text;
    std::function<void(QWidget *, const QString &)> setText;
    QString blank;
    bool framed;
};

template <typename W> auto setter(void (W::*set)(const QString &))
{
    return [set](QWidget *w, const QString &text) { (static_cast<W *>(w)->*set)(text); };
}

// The captions of a window (not of the windows it owns) as their controls show them now.
QList<Caption> captionsOf(QWidget *window)
{
    QList<Caption> out;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->window() != window)
            continue;
        if (auto *b = qobject_cast<QPushButton *>(w))
            out.append({b, b->text(), setter(&QPushButton::setText), {}, true});
        else if (auto *e = qobject_cast<QLineEdit *>(w); e && !e->text().isEmpty())
            out.append({e, e->text(), setter(&QLineEdit::setText), {}, true});
        else if (auto *l = qobject_cast<QLabel *>(w))
            out.append({l, l->text(), setter(&QLabel::setText), {}, false});
        // A blank title keeps the frame where a title puts it.
        else if (auto *g = qobject_cast<QGroupBox *>(w))
            out.append({g, g->title(), setter(&QGroupBox::setTitle), QStringLiteral(" "), false});
    }
    return out;
}

// A control of the same kind, font, state and height as the given one, with room to spare
// (a wrapped label keeps its width and gets the height).
std::unique_ptr<QWidget> roomyTwin(const Caption &c)
{
    std::unique_ptr<QWidget> twin;
    QSize size = c.control->size() + QSize(400, 0);
    if (qobject_cast<QPushButton *>(c.control))
        twin = std::make_unique<QPushButton>();
    else if (qobject_cast<QLineEdit *>(c.control))
        twin = std::make_unique<QLineEdit>();
    else if (auto *label = qobject_cast<QLabel *>(c.control)) {
        auto roomy = std::make_unique<QLabel>();
        roomy->setWordWrap(label->wordWrap());
        roomy->setAlignment(label->alignment());
        if (label->wordWrap())
            size = c.control->size() + QSize(0, 400);
        twin = std::move(roomy);
    } else {
        twin = std::make_unique<QGroupBox>();
    }
    twin->setFont(c.control->font());
    twin->setEnabled(c.control->isEnabled());
    twin->resize(size);
    c.setText(twin.get(), c.text);
    return twin;
}

// Empty when the caption is drawn whole, and clear of the frame if it has one.
QString misfit(const Caption &c)
{
    QWidget *w = c.control;
    const auto set = [&](const QString &t) { c.setText(w, t); };
    // Hidden indicators are drawn as they will be when they show.
    const bool hidden = w->isHidden();
    w->setVisible(true);
    const QRect ink = inkOf(w, set, c.text, c.blank);
    w->setVisible(!hidden);
    const std::unique_ptr<QWidget> twin = roomyTwin(c);
    const auto twinSet = [&](const QString &t) { c.setText(twin.get(), t); };
    const QRect whole = inkOf(twin.get(), twinSet, c.text, c.blank);

    const QString what =
        QStringLiteral("%1.%2 \"%3\" in %4 %5 pt: ")
            .arg(w->window()->objectName(), w->objectName(), c.text, QFontInfo(w->font()).family())
            .arg(w->font().pointSizeF());
    if (whole.isEmpty())
        return what + QStringLiteral("draws nothing even with room to spare");
    // One device pixel of give: the text may start at another fraction of a pixel.
    if (ink.width() < whole.width() - 1 || ink.height() < whole.height() - 1)
        return what + QStringLiteral("%1 x %2 device pixels shown of %3 x %4")
                          .arg(ink.width())
                          .arg(ink.height())
                          .arg(whole.width())
                          .arg(whole.height());
    if (!c.framed)
        return {};
    const qreal ratio = w->devicePixelRatioF();
    const int frame = w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
    const QRectF clear = QRectF(w->rect()).adjusted(frame + kMargin, frame + kMargin,
                                                    -frame - kMargin, -frame - kMargin);
    const QRectF drawn(ink.x() / ratio, ink.y() / ratio, ink.width() / ratio, ink.height() / ratio);
    if (!clear.contains(drawn))
        return what + QStringLiteral("text at x %1 to %2 of %3 px, frame and margin %4 px")
                          .arg(drawn.left())
                          .arg(drawn.right())
                          .arg(w->width())
                          .arg(frame + kMargin);
    return {};
}

} // namespace

class TestCaptions : public QObject
{
    Q_OBJECT

private slots:
    void captionsDrawnWhole_data()
    {
        QTest::addColumn<QStringList>("faces");    // all fontconfig offers
        QTest::addColumn<QString>("resolved");     // what the console must get
        QTest::addColumn<QString>("scaleSetting"); // environment setting of the row
        QTest::addColumn<qreal>("ratio");          // device pixel ratio it gives

        const QStringList fresh{"DejaVu Sans"};
        const QStringList project{"Liberation Sans", "DejaVu Sans"};
        const QList<std::pair<const char *, qreal>> scales{{"QT_SCALE_FACTOR=1", 1},
                                                           {"QT_SCALE_FACTOR=1.5", 1.5},
                                                           {"QT_SCALE_FACTOR=2", 2},
                                                           {"QT_FONT_DPI=144", 1.5}};
        for (const auto &[faces, resolved] :
             {std::pair{fresh, "DejaVu Sans"}, std::pair{project, "Liberation Sans"}}) {
            for (const auto &[setting, ratio] : scales)
                QTest::addRow("%s, %s", resolved, setting) << faces << QString::fromLatin1(resolved)
                                                           << QString::fromLatin1(setting) << ratio;
        }
    }

    void captionsDrawnWhole()
    {
        QFETCH(QString, resolved);
        if (qEnvironmentVariableIsSet(kChildVar))
            checkHere(resolved);
        else
            runInChild(resolved);
    }

private:
    void runInChild(const QString &resolved)
    {
        QFETCH(QStringList, faces);
        QFETCH(QString, scaleSetting);
        if (!QFontDatabase::families().contains(resolved))
            QSKIP(qPrintable(resolved + " is not installed here (Debian: scripts/deps.sh installs "
                                        "fonts-liberation2), so this row has nothing to test"));
        if (!QFile::exists("/etc/fonts/fonts.conf"))
            QSKIP("no /etc/fonts/fonts.conf to narrow down to the row's faces");
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile conf(dir.filePath("fonts.conf"));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(fontsConf(faces));
        conf.close();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_SCALE_FACTOR");
        env.remove("QT_FONT_DPI");
        env.remove("QT_SCREEN_SCALE_FACTORS");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("FONTCONFIG_FILE", conf.fileName());
        env.insert(kChildVar, QTest::currentDataTag());
        env.insert(scaleSetting.section('=', 0, 0), scaleSetting.section('=', 1));
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(
            QCoreApplication::applicationFilePath(),
            {QStringLiteral("%1:%2").arg(QTest::currentTestFunction(), QTest::currentDataTag())});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray out = child.readAll();
        // The child must have run the row, not skipped or missed it.
        if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 ||
            !out.contains(QByteArray("PASS   : TestCaptions::captionsDrawnWhole(") +
                          QTest::currentDataTag() + ')')) {
            for (const QByteArray &line : out.split('\n'))
                qInfo("child: %s", line.constData());
            QFAIL("the row did not pass in its child process; its output is above");
        }
    }

    void checkHere(const QString &resolved)
    {
        QFETCH(qreal, ratio);
        if (qEnvironmentVariable(kChildVar) != QLatin1String(QTest::currentDataTag()))
            QSKIP("another row's child");
        Console c;
        QCOMPARE(c.window->devicePixelRatioF(), ratio);
        QCOMPARE(QFontInfo(c.window->font()).family(), resolved);
        // The About window and the rename dialog are made now, after the main window.
        c.run("wexbin cn about");
        const QList<QWidget *> windows{c.window.get(), c.get("frmAbout"), c.get("frmBTName")};

        QStringList misfits;
        for (QWidget *window : windows) {
            QVERIFY(window->isVisible());
            // A text box with the focus would blink its cursor between two drawings.
            if (QWidget *focus = window->focusWidget())
                focus->clearFocus();
            // One size of text in all three windows and the menus.
            if (window->font().pointSizeF() != c.window->font().pointSizeF())
                misfits << QStringLiteral("%1 in %2 pt, the main window in %3 pt")
                               .arg(window->objectName())
                               .arg(window->font().pointSizeF())
                               .arg(c.window->font().pointSizeF());
            for (const Caption &caption : captionsOf(window)) {
                if (const QString why = misfit(caption); !why.isEmpty())
                    misfits << why;
            }
        }
        QMenuBar *bar = c.window->menuBar();
        for (QAction *title : bar->actions()) {
            if (title->menu()->font() != c.window->font())
                misfits << QStringLiteral("menu %1 in %2, the window in %3")
                               .arg(title->text(), title->menu()->font().toString(),
                                    c.window->font().toString());
            if (!bar->rect().contains(bar->actionGeometry(title)))
                misfits << QStringLiteral("menu %1 has no place in the bar").arg(title->text());
        }
        // The captions the handlers change to.
        c.run("connect safe live");
        for (const char *name : {"btnPort", "GetSensorData"}) {
            auto *button = c.get<QPushButton>(name);
            const QString why =
                misfit({button, button->text(), setter(&QPushButton::setText), {}, true});
            if (!why.isEmpty())
                misfits << why;
        }
        for (const QString &why : misfits)
            qWarning("misfit: %s", qPrintable(why));
        QVERIFY2(misfits.isEmpty(), "misfits, listed above");
    }
};

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
