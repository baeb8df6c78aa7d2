#include "console/frmmain_ui.h"

#include "console/drivebutton.h"
#include "console/twips.h"
#include "link/adapter.h"

#include <QAction>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QTextEdit>

namespace velmora::console
{

namespace
{
QString caption(const char *text)
{
    return QCoreApplication::translate("FrmMain", text);
}

template <typename W> W *place(W *widget, const char *name, QRect geometry)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QMenu *menu(QMainWindow *window, const char *name, const char *text)
{
    QMenu *m = window->menuBar()->addMenu(caption(text));
    m->setObjectName(QString::fromLatin1(name));
    return m;
}

QAction *menuItem(QMenu *menu, const char *name, const char *text)
{
    QAction *item = menu->addAction(caption(text));
    item->setObjectName(QString::fromLatin1(name));
    return item;
}
} // namespace

void FrmMainUi::setupUi(QMainWindow *frmMain)
{
    auto *client = new QWidget(frmMain);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twipsSize(8670, 4170));
    frmMain->setCentralWidget(client);

    frameDrive = place(new QGroupBox(caption("Drive Panel"), client), "frameDrive",
                       twips(120, 120, 2295, 2295));
    btnFwd =
        place(new DriveButton(caption("FWD"), frameDrive), "btnFwd", twips(840, 360, 615, 615));
    btnRight =
        place(new DriveButton(caption("RGT"), frameDrive), "btnRight", twips(1440, 960, 615, 615));
    btnBack =
        place(new DriveButton(caption("BCK"), frameDrive), "btnBack", twips(840, 1560, 615, 615));
    btnLeft =
        place(new DriveButton(caption("LFT"), frameDrive), "btnLeft", twips(240, 960, 615, 615));

    frameClean = place(new QGroupBox(caption("Roomba Panel"), client), "frameClean",
                       twips(120, 2400, 2295, 855));
    btnSpot =
        place(new QPushButton(caption("Spot"), frameClean), "btnSpot", twips(120, 240, 615, 495));
    btnClean =
        place(new QPushButton(caption("Clean"), frameClean), "btnClean", twips(840, 240, 615, 495));
    btnMax =
        place(new QPushButton(caption("Max"), frameClean), "btnMax", twips(1560, 240, 615, 495));

    frameData = place(new QGroupBox(caption("Send SCI Command"), client), "frameData",
                      twips(120, 3240, 2295, 855));
    txtSCI = place(new QLineEdit(frameData), "txtSCI", twips(480, 360, 855, 375));
    btnSend =
        place(new QPushButton(caption("Send"), frameData), "btnSend", twips(1440, 360, 735, 375));

    frameWireless = place(new QGroupBox(caption("Comm. Panel"), client), "frameWireless",
                          twips(2520, 120, 2295, 1455));
    txtPort = place(new QLineEdit(frameWireless), "txtPort", twips(120, 360, 975, 375));
    btnPort = place(new QPushButton(caption("Connect"), frameWireless), "btnPort",
                    twips(1200, 360, 975, 855));
    txtPortNum = place(new QLineEdit(frameWireless), "txtPortNum", twips(600, 840, 375, 405));
    Label1 = place(new QLabel(caption("Port"), frameWireless), "Label1", twips(240, 960, 375, 255));
    Label1->setBuddy(txtPortNum);

    framePower = place(new QGroupBox(caption("Power Panel"), client), "framePower",
                       twips(2520, 1680, 2295, 2415));
    btnOn = place(new QPushButton(caption("On"), framePower), "btnOn", twips(240, 360, 855, 495));
    btnOff =
        place(new QPushButton(caption("Off"), framePower), "btnOff", twips(1200, 360, 855, 495));
    btnSafe = place(new QPushButton(caption("Initialize Safe Mode"), framePower), "btnSafe",
                    twips(240, 960, 1815, 495));
    GetSensorData = place(new QPushButton(caption("Start Live Sensor Data"), framePower),
                          "GetSensorData", twips(240, 1560, 1815, 495));

    WexbinIO = place(new QGroupBox(caption("Sensor Data"), client), "WexbinIO",
                     twips(4920, 120, 3735, 3975));
    labelBumpLeft =
        place(new QLabel(caption("BL"), WexbinIO), "labelBumpLeft", twips(840, 240, 255, 255));
    labelWheeldropLeft = place(new QLabel(caption("WDL"), WexbinIO), "labelWheeldropLeft",
                               twips(1200, 240, 375, 255));
    labelCaster =
        place(new QLabel(caption("CASTER"), WexbinIO), "labelCaster", twips(1800, 240, 735, 255));
    labelWheeldropRight = place(new QLabel(caption("WDR"), WexbinIO), "labelWheeldropRight",
                                twips(2640, 240, 495, 255));
    labelBumpRight =
        place(new QLabel(caption("BR"), WexbinIO), "labelBumpRight", twips(3240, 240, 375, 255));
    for (QLabel *indicator :
         {labelBumpLeft, labelWheeldropLeft, labelCaster, labelWheeldropRight, labelBumpRight})
        indicator->setVisible(false);
    rtbWexbin = place(new QTextEdit(WexbinIO), "rtbWexbin", twips(120, 600, 3495, 3255));
    rtbWexbin->setReadOnly(true);
    rtbWexbin->setAcceptRichText(false);
    rtbWexbin->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    // Tab order as designed; frames and labels take no focus.
    const QList<QWidget *> tabOrder{btnFwd, btnRight,   btnBack,   btnLeft, btnSpot,      btnClean,
                                    btnMax, txtPort,    btnPort,   btnOn,   btnOff,       btnSend,
                                    txtSCI, txtPortNum, rtbWexbin, btnSafe, GetSensorData};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);

    mnuFile = menu(frmMain, "mnuFile", "File");
    for (const link::AdapterProduct &product : link::kAdapters) {
        mnuFileAdapters << menuItem(mnuFile, product.objectName, product.caption);
        mnuFileAdapters.last()->setCheckable(true);
    }
    mnuFileExit = menuItem(mnuFile, "mnuFileExit", "Exit");
    mnuEdit = menu(frmMain, "mnuEdit", "Edit");
    mnuEditCN = menuItem(mnuEdit, "mnuEditCN", "Change Name");
    mnuHelp = menu(frmMain, "mnuHelp", "Help");
    mnuHelpAbout = menuItem(mnuHelp, "mnuHelpAbout", "About");

    // The panels are placed by absolute geometry; the window keeps the size they were drawn for.
    frmMain->layout()->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace velmora::console
