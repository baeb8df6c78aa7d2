#include "console/fontfit.h"
#include "console/frmmain.h"
#include "link/deviceport.h"
#include "link/portnames.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    // Lets the desktop match the window to the installed entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.velmora.Velmora"));

    velmora::console::FrmMain window(new velmora::link::DevicePort);
    // --font-fit: say which face and size the captions got and whether all fit, then end.
    if (QCoreApplication::arguments().contains(QStringLiteral("--font-fit"))) {
        const velmora::console::FontFit &fit = velmora::console::fitConsoleFont(&window);
        std::printf("%s\n", qPrintable(velmora::console::describeFit(fit)));
        return fit.misfits.isEmpty() ? 0 : 1;
    }
    const QString folder = velmora::link::portLinkFolder();
    window.setPortLister(
        &velmora::link::availablePorts,
        folder.isEmpty()
            ? QString()
            : QObject::tr("To give a device a number N, make a link named comN to it in %1.")
                  .arg(folder));
    // progEnd has already closed the port; nothing else may run after it.
    QObject::connect(&window, &velmora::console::FrmMain::programEnded, &app,
                     [] { QCoreApplication::exit(0); });
    window.show();
    return QApplication::exec();
}
