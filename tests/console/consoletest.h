#pragma once

// A main window over a fake port, with the controls found by their object names.

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

namespace velmora::test {

using link::byteText;

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

// The main window over whatever port it is given; controls found by their object names.
class ConsoleWindow
{
public:
    explicit ConsoleWindow(link::SerialPort *port) : window(std::make_unique<console::FrmMain>(port))
    {
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qFatal("main window not exposed");
    }

    template <typename T = QWidget>
    T *get(const char *name) const
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

    void chooseAdapter(const char *item = "mnuFileDallop") const { action(item)->trigger(); }
    // Adapter, port number and Connect, as the operator does it.
    void connectPort(const char *item = "mnuFileDallop", const QString &number = QStringLiteral("3")) const
    {
        chooseAdapter(item);
        type("txtPortNum", number);
        click("btnPort");
    }
    void initialise(const char *item = "mnuFileDallop") const
    {
        connectPort(item);
        click("btnSafe");
    }
    void startLive(const char *item = "mnuFileDallop") const
    {
        initialise(item);
        click("GetSensorData");
    }
    // One timer tick, without waiting for it.
    void tick() const { QMetaObject::invokeMethod(timer(), "timeout", Qt::DirectConnection); }

    // Window coordinates of a control's centre, so mouse events take the platform's route
    // (and its implicit grab).
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
    void dismissMessages() const
    {
        for (QMessageBox *box : window->findChildren<QMessageBox *>()) {
            if (box->isVisible())
                box->button(QMessageBox::Ok)->click();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::unique_ptr<console::FrmMain> window;
};

// The main window over a scripted port.
class Console : public ConsoleWindow
{
public:
    Console() : Console(new link::FakeSerialPort) {}

    // Each write to the port as its decimal bytes, "137 0 0 0 0".
    QStringList writes() const
    {
        QStringList out;
        for (const QByteArray &w : port->writes())
            out << byteText(w);
        return out;
    }

    link::FakeSerialPort *port; // owned by the window

private:
    explicit Console(link::FakeSerialPort *fake) : ConsoleWindow(fake), port(fake) {}
};

// A sensor packet: 26 bytes, zero except those given as {index, value}.
inline QByteArray packet(std::initializer_list<std::pair<int, int>> set = {})
{
    QByteArray p(26, '\0');
    p[10] = static_cast<char>(255); // no remote command
    for (const auto &[index, value] : set)
        p[index] = static_cast<char>(value);
    return p;
}

} // namespace velmora::test
