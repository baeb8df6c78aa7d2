#include "console/frmmain.h"

#include "console/drivebutton.h"
#include "console/frmabout.h"
#include "console/frmbtname.h"
#include "console/messages.h"
#include "console/numbers.h"
#include "console/twips.h"
#include "link/serialport.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>

namespace velmora::console
{

namespace
{
const QString kStartLive = QStringLiteral("Start Live Sensor Data");
const QString kStopLive = QStringLiteral("Stop Live Sensor Data");
const QString kConnect = QStringLiteral("Connect");
const QString kDisconnect = QStringLiteral("Disconnect");
constexpr int kPollIntervalMs = 250;
constexpr int kDesignIntervalMs = 1000;

template <typename W> W *place(W *widget, const char *name, QRect geometry)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

QAction *menuItem(QMenu *menu, const char *name, const QString &caption)
{
    QAction *item = menu->addAction(caption);
    item->setObjectName(QString::fromLatin1(name));
    return item;
}
} // namespace

// The decoder's names, as the live view uses them.
using sci::DecodeSensorPacketInto;
using sci::kSensorPacketSize;
using sci::SensorEventSink;
using sci::SensorIndicator;
using sci::SensorPacket;

// Binds the decoder's events to the window: labels shown and stops written inside the walk.
class FrmMain::DecodeSink : public SensorEventSink
{
public:
    explicit DecodeSink(FrmMain &window) : window_(window) {}
    void showIndicator(SensorIndicator indicator) override
    {
        window_.indicatorLabel(indicator)->setVisible(true);
    }
    void requestStop() override { window_.goStop(); }

private:
    FrmMain &window_;
};

FrmMain::FrmMain(link::SerialPort *port, QWidget *parent) : QMainWindow(parent), MSComm1(port)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setFont(designFont());
    // One icon for all three windows: the other two are children and inherit it.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/velmora/%1x%1/apps/velmora.png").arg(size),
                     QSize(size, size));
    setWindowIcon(icon);

    MSComm1->setParent(this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    connect(MSComm1, &link::SerialPort::onComm, this, &FrmMain::MSComm1_OnComm);
    connect(MSComm1, &link::SerialPort::deviceLost, this, &FrmMain::MSComm1_DeviceLost);

    timerGetSensor = new QTimer(this);
    timerGetSensor->setObjectName(QStringLiteral("timerGetSensor"));
    timerGetSensor->setTimerType(Qt::PreciseTimer);
    timerGetSensor->setInterval(kDesignIntervalMs);
    connect(timerGetSensor, &QTimer::timeout, this, &FrmMain::timerGetSensor_Timer);

    buildControls();
    buildMenus();
    // The panels are placed by absolute geometry; the window keeps the size they were drawn for.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    Form_Load();
}

FrmMain::~FrmMain()
{
    // The port and the drive buttons are children and outlive this part of the window: a held
    // button is cancelled when it hides during destruction, and must not call back into it.
    MSComm1->disconnect(this);
    for (DriveButton *b : {btnFwd, btnBack, btnLeft, btnRight})
        b->disconnect(this);
}

void FrmMain::buildControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(twipsSize(8670, 4170));
    setCentralWidget(client);

    frameDrive =
        place(new QGroupBox(tr("Drive Panel"), client), "frameDrive", twips(120, 120, 2295, 2295));
    btnFwd = place(new DriveButton(tr("FWD"), frameDrive), "btnFwd", twips(840, 360, 615, 615));
    btnRight =
        place(new DriveButton(tr("RGT"), frameDrive), "btnRight", twips(1440, 960, 615, 615));
    btnBack = place(new DriveButton(tr("BCK"), frameDrive), "btnBack", twips(840, 1560, 615, 615));
    btnLeft = place(new DriveButton(tr("LFT"), frameDrive), "btnLeft", twips(240, 960, 615, 615));

    frameClean =
        place(new QGroupBox(tr("Roomba Panel"), client), "frameClean", twips(120, 2400, 2295, 855));
    btnSpot = place(new QPushButton(tr("Spot"), frameClean), "btnSpot", twips(120, 240, 615, 495));
    btnClean =
        place(new QPushButton(tr("Clean"), frameClean), "btnClean", twips(840, 240, 615, 495));
    btnMax = place(new QPushButton(tr("Max"), frameClean), "btnMax", twips(1560, 240, 615, 495));

    frameData = place(new QGroupBox(tr("Send SCI Command"), client), "frameData",
                      twips(120, 3240, 2295, 855));
    txtSCI = place(new QLineEdit(frameData), "txtSCI", twips(480, 360, 855, 375));
    btnSend = place(new QPushButton(tr("Send"), frameData), "btnSend", twips(1440, 360, 735, 375));

    frameWireless = place(new QGroupBox(tr("Comm. Panel"), client), "frameWireless",
                          twips(2520, 120, 2295, 1455));
    txtPort = place(new QLineEdit(frameWireless), "txtPort", twips(120, 360, 975, 375));
    btnPort =
        place(new QPushButton(kConnect, frameWireless), "btnPort", twips(1200, 360, 975, 855));
    txtPortNum = place(new QLineEdit(frameWireless), "txtPortNum", twips(600, 840, 375, 405));
    Label1 = place(new QLabel(tr("Port"), frameWireless), "Label1", twips(240, 960, 375, 255));
    Label1->setBuddy(txtPortNum);

    framePower = place(new QGroupBox(tr("Power Panel"), client), "framePower",
                       twips(2520, 1680, 2295, 2415));
    btnOn = place(new QPushButton(tr("On"), framePower), "btnOn", twips(240, 360, 855, 495));
    btnOff = place(new QPushButton(tr("Off"), framePower), "btnOff", twips(1200, 360, 855, 495));
    btnSafe = place(new QPushButton(tr("Initialize Safe Mode"), framePower), "btnSafe",
                    twips(240, 960, 1815, 495));
    GetSensorData = place(new QPushButton(kStartLive, framePower), "GetSensorData",
                          twips(240, 1560, 1815, 495));

    WexbinIO =
        place(new QGroupBox(tr("Sensor Data"), client), "WexbinIO", twips(4920, 120, 3735, 3975));
    labelBumpLeft =
        place(new QLabel(tr("BL"), WexbinIO), "labelBumpLeft", twips(840, 240, 255, 255));
    labelWheeldropLeft =
        place(new QLabel(tr("WDL"), WexbinIO), "labelWheeldropLeft", twips(1200, 240, 375, 255));
    labelCaster =
        place(new QLabel(tr("CASTER"), WexbinIO), "labelCaster", twips(1800, 240, 735, 255));
    labelWheeldropRight =
        place(new QLabel(tr("WDR"), WexbinIO), "labelWheeldropRight", twips(2640, 240, 495, 255));
    labelBumpRight =
        place(new QLabel(tr("BR"), WexbinIO), "labelBumpRight", twips(3240, 240, 375, 255));
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
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(btnFwd, &DriveButton::mouseDown, this, &FrmMain::btnFwd_MouseDown);
    connect(btnFwd, &DriveButton::mouseUp, this, &FrmMain::btnFwd_MouseUp);
    connect(btnBack, &DriveButton::mouseDown, this, &FrmMain::btnBack_MouseDown);
    connect(btnBack, &DriveButton::mouseUp, this, &FrmMain::btnBack_MouseUp);
    connect(btnLeft, &DriveButton::mouseDown, this, &FrmMain::btnLeft_MouseDown);
    connect(btnLeft, &DriveButton::mouseUp, this, &FrmMain::btnLeft_MouseUp);
    connect(btnRight, &DriveButton::mouseDown, this, &FrmMain::btnRight_MouseDown);
    connect(btnRight, &DriveButton::mouseUp, this, &FrmMain::btnRight_MouseUp);
    for (DriveButton *b : {btnFwd, btnBack, btnLeft, btnRight})
        connect(b, &DriveButton::pressCancelled, this, &FrmMain::driveButton_PressCancelled);

    connect(btnPort, &QPushButton::clicked, this, &FrmMain::btnPort_Click);
    connect(btnOn, &QPushButton::clicked, this, &FrmMain::btnOn_Click);
    connect(btnOff, &QPushButton::clicked, this, &FrmMain::btnOff_Click);
    connect(btnSafe, &QPushButton::clicked, this, &FrmMain::btnSafe_Click);
    connect(btnSpot, &QPushButton::clicked, this, &FrmMain::btnSpot_Click);
    connect(btnClean, &QPushButton::clicked, this, &FrmMain::btnClean_Click);
    connect(btnMax, &QPushButton::clicked, this, &FrmMain::btnMax_Click);
    connect(btnSend, &QPushButton::clicked, this, &FrmMain::btnSend_Click);
    connect(GetSensorData, &QPushButton::clicked, this, &FrmMain::GetSensorData_Click);

    frameWireless->installEventFilter(this);
    refreshPortTip();
}

void FrmMain::buildMenus()
{
    mnuFile = menuBar()->addMenu(tr("File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFileKrennet = menuItem(mnuFile, "mnuFileKrennet", tr("Krennet"));
    mnuFileDallop = menuItem(mnuFile, "mnuFileDallop", tr("Dallop"));
    mnuFileWexbin = menuItem(mnuFile, "mnuFileWexbin", tr("Wexbin"));
    mnuFileExit = menuItem(mnuFile, "mnuFileExit", tr("Exit"));
    for (QAction *item : {mnuFileKrennet, mnuFileDallop, mnuFileWexbin})
        item->setCheckable(true);

    mnuEdit = menuBar()->addMenu(tr("Edit"));
    mnuEdit->setObjectName(QStringLiteral("mnuEdit"));
    mnuEditCN = menuItem(mnuEdit, "mnuEditCN", tr("Change Name"));

    mnuHelp = menuBar()->addMenu(tr("Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuHelpAbout = menuItem(mnuHelp, "mnuHelpAbout", tr("About"));

    connect(mnuFileKrennet, &QAction::triggered, this, &FrmMain::mnuFileKrennet_Click);
    connect(mnuFileDallop, &QAction::triggered, this, &FrmMain::mnuFileDallop_Click);
    connect(mnuFileWexbin, &QAction::triggered, this, &FrmMain::mnuFileWexbin_Click);
    connect(mnuFileExit, &QAction::triggered, this, &FrmMain::mnuFileExit_Click);
    connect(mnuEditCN, &QAction::triggered, this, &FrmMain::mnuEditCN_Click);
    connect(mnuHelpAbout, &QAction::triggered, this, &FrmMain::mnuHelpAbout_Click);
}

void FrmMain::setEnabledAll(std::initializer_list<QObject *> items, bool on)
{
    for (QObject *item : items) {
        if (auto *widget = qobject_cast<QWidget *>(item))
            widget->setEnabled(on);
        else if (auto *action = qobject_cast<QAction *>(item))
            action->setEnabled(on);
    }
}

void FrmMain::Form_Load()
{
    MSComm1->setRtsEnable(false);
    txtPort->setText(QStringLiteral("57600,n,8,1"));
    setEnabledAll({frameDrive, frameClean, framePower, frameData}, false);
    setEnabledAll(
        {GetSensorData, btnSafe, btnFwd, btnBack, btnLeft, btnRight, btnSpot, btnClean, btnMax},
        false);
    for (QAction *item : {mnuFileKrennet, mnuFileDallop, mnuFileWexbin})
        item->setChecked(false);
    adapterKind_ = link::AdapterKind::None;
}

// ---- Menus ----

void FrmMain::mnuFileKrennet_Click()
{
    chooseAdapter(mnuFileKrennet, link::AdapterKind::Wired);
}
void FrmMain::mnuFileDallop_Click()
{
    chooseAdapter(mnuFileDallop, link::AdapterKind::Wired);
}
void FrmMain::mnuFileWexbin_Click()
{
    chooseAdapter(mnuFileWexbin, link::AdapterKind::Wexbin);
}

void FrmMain::chooseAdapter(QAction *item, link::AdapterKind kind)
{
    adapterKind_ = kind;
    for (QAction *each : {mnuFileKrennet, mnuFileDallop, mnuFileWexbin})
        each->setChecked(each == item);
}

void FrmMain::mnuFileExit_Click()
{
    progEnd();
}

void FrmMain::mnuEditCN_Click()
{
    if (!mnuFileWexbin->isChecked()) {
        showMessage(this, tr("For Wexbin Only"));
        return;
    }
    if (!btName_)
        btName_ = new FrmBTName(mnuFileWexbin, MSComm1, this);
    btName_->present();
}

void FrmMain::mnuHelpAbout_Click()
{
    if (!about_)
        about_ = new FrmAbout(this);
    about_->show();
    about_->raise();
    about_->activateWindow();
}

// ---- Connecting ----

void FrmMain::btnPort_Click()
{
    if (MSComm1->portOpen())
        disconnectSteps();
    else
        connectSteps();
}

void FrmMain::connectSteps()
{
    if (adapterKind_ == link::AdapterKind::None) {
        showMessage(this, tr("Please select a product from the File menu."));
        return;
    }
    if (txtPortNum->text().isEmpty()) {
        showMessage(this, tr("Please enter a Comm Port number."));
        return;
    }
    // A failure below ends the click before any control has changed.
    if (!MSComm1->setSettings(txtPort->text())) {
        showMessage(this, MSComm1->errorString());
        return;
    }
    const auto number = parseWholeNumber(txtPortNum->text(), -32768, 32767);
    if (!number) {
        showMessage(
            this,
            tr("\"%1\" is not a port number. Please type the port's number as a whole number, "
               "for example 3 (the box's tooltip lists the ports found).")
                .arg(txtPortNum->text()));
        return;
    }
    MSComm1->setCommPort(*number);
    if (!MSComm1->setPortOpen(true)) {
        showMessage(this, MSComm1->errorString());
        return;
    }
    writeFailing_ = false;

    btnPort->setText(kDisconnect);
    setEnabledAll({frameClean, framePower, frameData, btnSafe}, true);
    setEnabledAll({btnFwd, btnBack, btnLeft, btnRight}, false);
    setEnabledAll({mnuFileKrennet, mnuFileDallop, mnuFileWexbin}, false);
}

void FrmMain::disconnectSteps()
{
    MSComm1->setPortOpen(false);
    btnPort->setText(kConnect);
    setEnabledAll({frameDrive, frameClean, framePower, frameData}, false);
    setEnabledAll(
        {btnFwd, btnBack, btnLeft, btnRight, btnSafe, btnSpot, btnClean, btnMax, GetSensorData},
        false);
    rtbWexbin->clear();
    setEnabledAll({mnuFileKrennet, mnuFileDallop, mnuFileWexbin}, true);
}

void FrmMain::MSComm1_DeviceLost(const QString &why)
{
    disconnectSteps();
    showMessage(
        this, tr("The connection to the robot was lost.\n\n%1\n\nCheck the adapter and its cable, "
                 "then press Connect again.")
                  .arg(why));
}

void FrmMain::refreshPortTip()
{
    const QList<link::PortChoice> ports = portLister_ ? portLister_() : QList<link::PortChoice>{};
    QStringList lines{tr("The number of the serial port the adapter is on.")};
    if (ports.isEmpty())
        lines << tr("No serial ports were found on this machine.");
    else
        lines << tr("Ports on this machine:");
    bool unnumbered = false;
    for (const link::PortChoice &p : ports) {
        const QString number = p.number > 0 ? QString::number(p.number) : tr("(no number)");
        const QString about =
            p.description.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(p.description);
        lines << QStringLiteral("%1  %2%3").arg(number, p.device, about);
        unnumbered = unnumbered || p.number <= 0;
    }
    if (unnumbered && !numberingHint_.isEmpty())
        lines << numberingHint_;
    txtPortNum->setToolTip(lines.join(QLatin1Char('\n')));
}

void FrmMain::setPortLister(PortLister lister, const QString &numberingHint)
{
    portLister_ = std::move(lister);
    numberingHint_ = numberingHint;
    refreshPortTip();
}

bool FrmMain::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == frameWireless && e->type() == QEvent::Enter)
        refreshPortTip();
    return QMainWindow::eventFilter(watched, e);
}

// ---- Writing ----

bool FrmMain::send(const sci::Sequence &sequence)
{
    if (sci::sendSci(*MSComm1, sequence)) {
        writeFailing_ = false;
        return true;
    }
    if (!writeFailing_) {
        writeFailing_ = true;
        showMessage(this, tr("Sending to the robot failed.\n\n%1").arg(MSComm1->errorString()));
    }
    return false;
}

void FrmMain::goFwd()
{
    send(sci::goFwd());
}
void FrmMain::goBack()
{
    send(sci::goBack());
}
void FrmMain::goLeft()
{
    send(sci::goLeft());
}
void FrmMain::goRight()
{
    send(sci::goRight());
}
void FrmMain::goStop()
{
    send(sci::goStop());
}
void FrmMain::safeMode()
{
    send(sci::safeMode());
}

// ---- Power and cleaning ----

void FrmMain::btnOn_Click()
{
    if (!link::wakeRobot(*MSComm1, adapterKind_))
        showMessage(this, tr("The robot could not be woken.\n\n%1").arg(MSComm1->errorString()));
}

void FrmMain::btnOff_Click()
{
    send(sci::sciPower());
}
void FrmMain::btnSpot_Click()
{
    send(sci::sciSpot());
}
void FrmMain::btnClean_Click()
{
    send(sci::sciClean());
}
void FrmMain::btnMax_Click()
{
    send(sci::sciMax());
}

void FrmMain::btnSafe_Click()
{
    // Controls are unlocked only once the safe-mode bytes went out.
    if (!send(sci::safeMode()))
        return;
    setEnabledAll(
        {GetSensorData, frameDrive, btnFwd, btnBack, btnLeft, btnRight, btnSpot, btnClean, btnMax},
        true);
}

// ---- Drive panel ----

void FrmMain::btnFwd_MouseDown()
{
    goFwd();
}
void FrmMain::btnFwd_MouseUp()
{
    goStop();
}
void FrmMain::btnBack_MouseDown()
{
    goBack();
}
void FrmMain::btnBack_MouseUp()
{
    goStop();
}
void FrmMain::btnLeft_MouseDown()
{
    goLeft();
}
void FrmMain::btnLeft_MouseUp()
{
    goStop();
}
void FrmMain::btnRight_MouseDown()
{
    goRight();
}
void FrmMain::btnRight_MouseUp()
{
    goStop();
}

void FrmMain::driveButton_PressCancelled()
{
    // The release will never come; do not leave the robot driving.
    if (MSComm1->portOpen())
        goStop();
}

// ---- Raw bytes ----

void FrmMain::btnSend_Click()
{
    const auto value = parseWholeNumber(txtSCI->text(), 0, 255);
    if (!value) {
        showMessage(this,
                    tr("\"%1\" is not an SCI byte. Please type one whole number from 0 to 255.")
                        .arg(txtSCI->text()));
        return;
    }
    send(sci::sciRawByte(*value));
}

// ---- Live sensor view ----

void FrmMain::GetSensorData_Click()
{
    if (GetSensorData->text() == kStartLive) {
        GetSensorData->setText(kStopLive);
        timerGetSensor->setInterval(kPollIntervalMs);
        timerGetSensor->start();
        return;
    }
    SensorPollActive = 0;
    GetSensorData->setText(kStartLive);
    timerGetSensor->stop();
    rtbWexbin->clear();
}

void FrmMain::timerGetSensor_Timer()
{
    PollSensors();
}

void FrmMain::PollSensors()
{
    if (!MSComm1->portOpen())
        return;
    SensorPollActive = 1;
    for (QLabel *indicator :
         {labelBumpLeft, labelBumpRight, labelCaster, labelWheeldropLeft, labelWheeldropRight})
        indicator->setVisible(false);
    // Whatever waits now cannot be the answer to this request: adapter replies from before the
    // first poll, or the tail of a dropped answer. Left in place it would offset every later
    // answer, so none would ever again be exactly 26 bytes.
    MSComm1->setInputLen(0);
    MSComm1->input();
    MSComm1->setInputLen(static_cast<int>(kSensorPacketSize));
    MSComm1->setRThreshold(1);
    send(sci::sciSensors());
}

void FrmMain::MSComm1_OnComm()
{
    if (MSComm1->commEvent() != link::SerialPort::kCommEventReceive)
        return;
    const auto waiting = static_cast<qint16>(MSComm1->inBufferCount());
    if (waiting <= 0)
        return;
    const QByteArray taken = MSComm1->input();
    if (waiting != static_cast<qint16>(kSensorPacketSize) ||
        taken.size() != static_cast<qsizetype>(kSensorPacketSize))
        return;
    SensorPacket packet;
    std::transform(taken.cbegin(), taken.cend(), packet.begin(),
                   [](char c) { return static_cast<std::uint8_t>(c); });
    ProcessSensorData(packet);
}

QLabel *FrmMain::indicatorLabel(SensorIndicator indicator) const
{
    switch (indicator) {
    case SensorIndicator::BumpRight:
        return labelBumpRight;
    case SensorIndicator::BumpLeft:
        return labelBumpLeft;
    case SensorIndicator::WheeldropRight:
        return labelWheeldropRight;
    case SensorIndicator::WheeldropLeft:
        return labelWheeldropLeft;
    case SensorIndicator::Caster:
        return labelCaster;
    }
    return labelCaster;
}

void FrmMain::ProcessSensorData(const SensorPacket &packet)
{
    if (SensorPollActive != 1)
        return;
    DecodeSink sink(*this);
    DecodeSensorPacketInto(packet, sink, report_);
    rtbWexbin->setPlainText(
        QString::fromLatin1(report_.data(), static_cast<qsizetype>(report_.size())));
    SensorPollActive = 0;
}

// ---- Shutdown ----

void FrmMain::progEnd()
{
    if (ended_)
        return;
    ended_ = true;
    if (MSComm1->portOpen()) {
        if (timerGetSensor->isActive())
            GetSensorData_Click();
        // A failure here must not keep the program from ending; the close drains the byte out.
        sci::sendSci(*MSComm1, sci::sciStart());
        MSComm1->setPortOpen(false);
    }
    // No handler of any window runs after this.
    timerGetSensor->stop();
    MSComm1->disconnect(this);
    if (about_)
        about_->close();
    if (btName_)
        btName_->close();
    close();
    emit programEnded();
}

void FrmMain::closeEvent(QCloseEvent *e)
{
    progEnd();
    e->accept();
}

} // namespace velmora::console
