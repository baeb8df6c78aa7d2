// The caption fitting chooses Liberation Sans 8 pt with the fonts the project installs and
// DejaVu Sans 7 pt on a fresh Debian, which offers only DejaVu Sans; in either, every caption of
// the three windows and their menus is drawn whole. A process takes its fonts once, at start, so
// each row runs again in a child process whose fontconfig offers only the row's faces.

#include "consoletest.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <memory>

using velmora::test::Console;

namespace
{

const char kChildVar[] = "VELMORA_CAPTIONS_ROW";
using Setter = std::function<void(QWidget *, const QString &)>;

// fontconfig as the system has it, but offering only the given faces.
QByteArray fontsConf(const QStringList &faces)
{
    QByteArray conf = "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n"
                      "<fontconfig><include>/etc/fonts/fonts.conf</include><selectfont>\n";
    for (const QString &face : faces)
        conf += "<acceptfont><pattern><patelt name=\"family\"><string>" + face.toUtf8() +
                "</string></patelt></pattern></acceptfont>\n";
    return conf + "<rejectfont><pattern/></rejectfont></selectfont></fontconfig>\n";
}

// The device pixels a caption puts on its control: where the control drawn with it differs from
// the control drawn with `blank` in its place.
QRect inkOf(QWidget *control, const Setter &set, const QString &text, const QString &blank)
{
    const QImage with = control->grab().toImage();
    set(control, blank);
    const QImage without = control->grab().toImage();
    set(control, text);
    QRect box;
    for (int y = 0; y < with.height(); ++y) {
        for (int x = 0; x < with.width(); ++x) {
            if (with.pixel(x, y) != without.pixel(x, y))
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

template <typename W> Setter setter(void (W::*set)(const QString &))
{
    return [set](QWidget *w, const QString &text) { (static_cast<W *>(w)->*set)(text); };
}

// Empty when the control draws as much of its caption as a control of the same kind, font and
// height with room to spare does (a wrapped label keeps its width and gets the height).
QString misfit(QWidget *w, const QString &text, const Setter &set, const QString &blank = {})
{
    std::unique_ptr<QWidget> twin;
    QSize room = w->size() + QSize(400, 0);
    if (qobject_cast<QPushButton *>(w))
        twin = std::make_unique<QPushButton>();
    else if (qobject_cast<QLineEdit *>(w))
        twin = std::make_unique<QLineEdit>();
    else if (auto *label = qobject_cast<QLabel *>(w)) {
        auto roomy = std::make_unique<QLabel>();
        roomy->setWordWrap(label->wordWrap());
        roomy->setAlignment(label->alignment());
        if (label->wordWrap())
            room = w->size() + QSize(0, 400);
        twin = std::move(roomy);
    } else {
        twin = std::make_unique<QGroupBox>();
    }
    twin->setFont(w->font());
    twin->setEnabled(w->isEnabled());
    twin->resize(room);
    set(twin.get(), text);
    // Hidden indicators are drawn as they will be when they show.
    const bool hidden = w->isHidden();
    w->setVisible(true);
    const QRect ink = inkOf(w, set, text, blank);
    w->setVisible(!hidden);
    const QRect whole = inkOf(twin.get(), set, text, blank);
    // One device pixel of give: the text may start at another fraction of a pixel.
    if (!whole.isEmpty() && ink.width() >= whole.width() - 1 && ink.height() >= whole.height() - 1)
        return {};
    return QStringLiteral("%1.%2 \"%3\": %4 x %5 device pixels drawn of %6 x %7")
        .arg(w->window()->objectName(), w->objectName(), text)
        .arg(ink.width())
        .arg(ink.height())
        .arg(whole.width())
        .arg(whole.height());
}

} // namespace

class TestCaptions : public QObject
{
    Q_OBJECT

private slots:
    void captions_data()
    {
        QTest::addColumn<QStringList>("faces"); // all fontconfig offers
        QTest::addColumn<QString>("face");      // what the fitting must choose
        QTest::addColumn<qreal>("size");
        QTest::newRow("project fonts")
            << QStringList{"Liberation Sans", "DejaVu Sans"} << "Liberation Sans" << qreal(8);
        QTest::newRow("DejaVu only") << QStringList{"DejaVu Sans"} << "DejaVu Sans" << qreal(7);
    }

    void captions()
    {
        if (qEnvironmentVariableIsSet(kChildVar))
            checkHere();
        else
            runInChild();
    }

private:
    void runInChild()
    {
        QFETCH(QStringList, faces);
        for (const QString &face : faces) {
            if (!QFontDatabase::families().contains(face))
                QSKIP(qPrintable(face + " is not installed here (Debian: scripts/deps.sh installs "
                                        "fonts-liberation2 and fonts-dejavu-core)"));
        }
        QTemporaryDir dir;
        QFile conf(dir.filePath("fonts.conf"));
        QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write(fontsConf(faces)) > 0);
        conf.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *scale : {"QT_SCALE_FACTOR", "QT_FONT_DPI", "QT_SCREEN_SCALE_FACTORS"})
            env.remove(scale);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("FONTCONFIG_FILE", conf.fileName());
        env.insert(kChildVar, QTest::currentDataTag());
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("captions:") + QTest::currentDataTag()});
        QVERIFY(child.waitForFinished(60000));
        const QByteArray out = child.readAll();
        // The child must have run the row, not skipped or missed it.
        if (child.exitCode() != 0 || !out.contains(QByteArray("PASS   : TestCaptions::captions(") +
                                                   QTest::currentDataTag() + ')')) {
            qInfo("child: %s", out.constData());
            QFAIL("the row did not pass in its child process; its output is above");
        }
    }

    void checkHere()
    {
        QFETCH(QString, face);
        QFETCH(qreal, size);
        if (qEnvironmentVariable(kChildVar) != QLatin1String(QTest::currentDataTag()))
            QSKIP("another row's child");
        Console c;
        QCOMPARE(QFontInfo(c.window->font()).family(), face);
        QCOMPARE(c.window->font().pointSizeF(), size);
        // The About window and the rename dialog are made now, after the main window.
        c.run("wexbin cn about");
        QStringList misfits;
        for (QWidget *window :
             {static_cast<QWidget *>(c.window.get()), c.get("frmAbout"), c.get("frmBTName")}) {
            QCOMPARE(window->font().pointSizeF(), size);
            // A text box with the focus would blink its cursor between two drawings.
            if (QWidget *focus = window->focusWidget())
                focus->clearFocus();
            for (QWidget *w : window->findChildren<QWidget *>()) {
                if (w->window() != window)
                    continue;
                QString why;
                if (auto *b = qobject_cast<QPushButton *>(w))
                    why = misfit(b, b->text(), setter(&QPushButton::setText));
                else if (auto *e = qobject_cast<QLineEdit *>(w); e && !e->text().isEmpty())
                    why = misfit(e, e->text(), setter(&QLineEdit::setText));
                else if (auto *l = qobject_cast<QLabel *>(w))
                    why = misfit(l, l->text(), setter(&QLabel::setText));
                else if (auto *g = qobject_cast<QGroupBox *>(w)) // a blank keeps the title's room
                    why = misfit(g, g->title(), setter(&QGroupBox::setTitle), " ");
                if (!why.isEmpty())
                    misfits << why;
            }
        }
        for (QAction *title : c.window->menuBar()->actions()) {
            QCOMPARE(title->menu()->font(), c.window->font());
            QVERIFY(
                c.window->menuBar()->rect().contains(c.window->menuBar()->actionGeometry(title)));
        }
        // The captions the handlers change to.
        c.run("connect safe live");
        for (const char *name : {"btnPort", "GetSensorData"}) {
            auto *b = c.get<QPushButton>(name);
            if (const QString why = misfit(b, b->text(), setter(&QPushButton::setText));
                !why.isEmpty())
                misfits << why;
        }
        QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join('\n')));
    }
};

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
