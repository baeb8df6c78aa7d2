#pragma once

// The main window over a port, with the controls found by their object names, and a small
// language of the operator's steps for data-driven tests over a fake port.

#include "console/frmmain.h"
#include "link/fakeserialport.h"

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <utility>

namespace velmora::test
{

// The main window over whatever port it is given; controls found by their object names.
class ConsoleWindow
{
public:
    explicit ConsoleWindow(link::SerialPort *port)
        : window(std::make_unique<console::FrmMain>(port))
    {
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qFatal("main window not exposed");
    }

    template <typename T = QWidget> T *get(const char *name) const
    {
        auto *found = window->findChild<T *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s of the wanted kind", name);
        return found;
    }
    QAction *action(const char *name) const { return get<QAction>(name); }
    QAbstractButton *button(const char *name) const { return get<QAbstractButton>(name); }
    QTimer *timer() const { return get<QTimer>("timerGetSensor"); }
    QString report() const { return get<QTextEdit>("rtbWexbin")->toPlainText(); }

    void click(const char *name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    void type(const char *box, const QString &text) const { get<QLineEdit>(box)->setText(text); }

    // Adapter, port number and Connect, as the operator does it.
    void connectPort(const char *item = "mnuFileDallop",
                     const QString &number = QStringLiteral("3")) const
    {
        action(item)->trigger();
        type("txtPortNum", number);
        click("btnPort");
    }

    // Mouse events at a control's centre through the window, so they take the platform's
    // route (and its implicit grab).
    QPoint centreOf(const char *name) const
    {
        QWidget *w = get(name);
        return w->mapTo(window.get(), w->rect().center());
    }
    void mousePress(const char *on, Qt::MouseButton b = Qt::LeftButton) const
    {
        QTest::mousePress(window->windowHandle(), b, {}, centreOf(on));
    }
    void mouseRelease(const char *over, Qt::MouseButton b = Qt::LeftButton) const
    {
        QTest::mouseRelease(window->windowHandle(), b, {}, centreOf(over));
    }

    // Texts of the message boxes now open over any of the console's windows.
    QStringList messages() const
    {
        QStringList texts;
        for (QMessageBox *box : window->findChildren<QMessageBox *>()) {
            if (box->isVisible())
                texts << box->text();
        }
        return texts;
    }

    // The bump and wheel-drop labels now visible, by name.
    QString indicators() const
    {
        QStringList shown;
        for (const char *name : {"labelBumpLeft", "labelWheeldropLeft", "labelCaster",
                                 "labelWheeldropRight", "labelBumpRight"}) {
            if (get(name)->isVisible())
                shown << QString::fromLatin1(name);
        }
        return shown.join(QLatin1Char(' '));
    }

    std::unique_ptr<console::FrmMain> window;
};

// A sensor packet: 26 bytes, zero except those given as {index, value}, a battery at 15000 mV
// and no remote command.
inline QByteArray packet(std::initializer_list<std::pair<int, int>> set = {})
{
    QByteArray p(26, '\0');
    p[10] = static_cast<char>(255);
    p[17] = static_cast<char>(15000 >> 8);
    p[18] = static_cast<char>(15000 & 0xff);
    for (const auto &[index, value] : set)
        p[index] = static_cast<char>(value);
    return p;
}

// A wake-up pulse's clock that a test ends by hand.
class ManualWakeClock : public link::WakeClock
{
public:
    void start(int ms, std::function<void()> due) override
    {
        ms_ = ms;
        due_ = std::move(due);
    }
    void stop() override { due_ = nullptr; }
    bool pending() const { return bool(due_); }
    int ms() const { return ms_; }
    // The pulse's time is up.
    void fire()
    {
        if (auto due = std::exchange(due_, nullptr))
            due();
    }

private:
    std::function<void()> due_;
    int ms_ = 0;
};

// The main window over a scripted port.
class Console : public ConsoleWindow
{
public:
    Console() : Console(new link::FakeSerialPort) {}

    // The operator's steps, separated by blanks:
    //   krennet, dallop, wexbin   the adapter's menu item
    //   connect[:N] port          port number N (3) and Connect; the Connect/Disconnect button
    //   set:TEXT                  the settings text
    //   safe on off spot clean max live send exit close cn   buttons and menu items
    //   press:NAME[:right|middle] release:NAME[:...] dclick:NAME keys:NAME   on a drive button
    //   deactivate disable:NAME hide:NAME   what can cancel a held press
    //   tick dismiss              one timer tick; OK on every message box
    //   pulse                     the wake-up pulse's time is up
    // and on the port:
    //   pkt[:I=V,...]  pkt27[:...]  split:N[:...]   a packet in one receive event, with one byte
    //                             more, or its first N bytes and the rest as two events
    //   piece:A:B  pieceq:A:B     bytes A to B-1 of a plain packet, with an event or without
    //   ok  okq  fail:TEXT  unfail  unplug  norts   an adapter's "OK" reply, with an event or
    //                             without; failures
    //   replyq:TEXT               an adapter's reply line without an event ('_' for a blank)
    //   strayq:N                  N stray bytes (0xAA) without an event
    void run(const QString &steps) const
    {
        for (const QString &step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList a = step.split(QLatin1Char(':'));
            const QString &verb = a[0];
            const QByteArray arg = a.value(1).toLatin1();
            if (const char *item = menuItem(verb))
                action(item)->trigger();
            else if (verb == "connect") {
                type("txtPortNum", a.size() > 1 ? a[1] : QStringLiteral("3"));
                click("btnPort");
            } else if (verb == "set")
                type("txtPort", a[1]);
            else if (const char *b = buttonName(verb))
                click(b);
            else if (verb == "press" || verb == "release") {
                const Qt::MouseButton mb = a.value(2) == "right"    ? Qt::RightButton
                                           : a.value(2) == "middle" ? Qt::MiddleButton
                                                                    : Qt::LeftButton;
                verb == "press" ? mousePress(arg, mb) : mouseRelease(arg, mb);
            } else if (verb == "dclick")
                QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {}, centreOf(arg));
            else if (verb == "keys") {
                get(arg)->setFocus();
                QTest::keyClick(get(arg), Qt::Key_Space);
                QTest::keyClick(get(arg), Qt::Key_Return);
                button(arg)->click();
            } else if (verb == "deactivate") {
                QEvent deactivate(QEvent::WindowDeactivate);
                QCoreApplication::sendEvent(window.get(), &deactivate);
            } else if (verb == "disable")
                get(arg)->setEnabled(false);
            else if (verb == "hide")
                get(arg)->hide();
            else if (verb == "pulse")
                wakeClock->fire();
            else if (verb == "replyq")
                port->injectQuietly(QByteArray(arg).replace('_', ' ') + "\r\n");
            else if (verb == "strayq")
                port->injectQuietly(QByteArray(arg.toInt(), '\xaa'));
            else if (verb == "tick")
                QMetaObject::invokeMethod(timer(), "timeout", Qt::DirectConnection);
            else if (verb == "close")
                window->close();
            else if (verb == "dismiss")
                dismissMessages();
            else if (verb.startsWith("pkt") || verb == "split") {
                QByteArray p = packet();
                for (const QString &set :
                     a.value(verb == "split" ? 2 : 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
                    p[set.section('=', 0, 0).toInt()] =
                        static_cast<char>(set.section('=', 1).toInt());
                if (verb == "split") {
                    port->injectReceived(p.left(a[1].toInt()));
                    p = p.mid(a[1].toInt());
                }
                port->injectReceived(verb == "pkt27" ? p + '\x55' : p);
            } else if (verb == "piece" || verb == "pieceq") {
                const QByteArray bytes = packet().mid(a[1].toInt(), a[2].toInt() - a[1].toInt());
                verb == "piece" ? port->injectReceived(bytes) : port->injectQuietly(bytes);
            } else if (verb == "ok")
                port->injectReceived("OK\r\n");
            else if (verb == "okq")
                port->injectQuietly("OK\r\n");
            else if (verb == "fail" || verb == "unfail")
                port->failWrites(a.value(1));
            else if (verb == "unplug")
                port->unplug();
            else if (verb == "norts")
                port->setRtsSupported(false);
            else
                qFatal("unknown step %s", qPrintable(step));
        }
    }

    void dismissMessages() const
    {
        for (QMessageBox *box : window->findChildren<QMessageBox *>()) {
            if (box->isVisible())
                box->button(QMessageBox::Ok)->click();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    link::FakeSerialPort *port; // owned by the window
    ManualWakeClock *wakeClock; // owned by the window

private:
    explicit Console(link::FakeSerialPort *fake)
        : ConsoleWindow(fake), port(fake), wakeClock(new ManualWakeClock)
    {
        window->setWakeClock(std::unique_ptr<link::WakeClock>(wakeClock));
    }

    static const char *menuItem(const QString &verb)
    {
        static const QHash<QString, const char *> items{
            {"krennet", "mnuFileKrennet"}, {"dallop", "mnuFileDallop"}, {"wexbin", "mnuFileWexbin"},
            {"exit", "mnuFileExit"},       {"cn", "mnuEditCN"},         {"about", "mnuHelpAbout"}};
        return items.value(verb);
    }
    static const char *buttonName(const QString &verb)
    {
        static const QHash<QString, const char *> buttons{
            {"port", "btnPort"}, {"safe", "btnSafe"},       {"on", "btnOn"},
            {"off", "btnOff"},   {"spot", "btnSpot"},       {"clean", "btnClean"},
            {"max", "btnMax"},   {"live", "GetSensorData"}, {"send", "btnSend"}};
        return buttons.value(verb);
    }
};

} // namespace velmora::test
