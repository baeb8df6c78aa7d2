#include "console/frmmain.h"

#include "console/drivebutton.h"
#include "console/fontfit.h"
#include "console/frmabout.h"
#include "console/frmbtname.h"
#include "console/messages.h"
#include "console/numbers.h"
#include "console/twips.h"
#include "link/linetrace.h"
#include "link/serialport.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

namespace velmora::console
{

namespace
{
const QString kStartLive = QStringLiteral("Start Live Sensor Data");
const QString kStopLive = QStringLiteral("Stop Live Sensor Data");
const QString kConnect = QStringLiteral("Connect");
const QString kDisconnect = QStringLiteral("Disconnect");
constexpr int kPollIntervalMs = 250;
} // namespace

using sci::SensorIndicator;

FrmMain::FrmMain(link::SerialPort *port, QWidget *parent)
    : QMainWindow(parent), MSComm1(port),
      poll_(*port, [this](const sci::Sequence &s) { return send(s); })
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
    connect(timerGetSensor, &QTimer::timeout, this, &FrmMain::timerGetSensor_Timer);

    setWakeClock(nullptr);
    setupUi(this);
    connectControls();
    Form_Load();
    fitConsoleFont(this);
}

FrmMain::~FrmMain()
{
    // Without progEnd (the window dropped by its owner) the port closes with it, too late for
    // a stop.
    if (!ended_ && MSComm1->portOpen())
        beforeClose();
    // The port and the drive buttons are children and outlive this part of the window: a held
    // button is cancelled when it hides during destruction, and must not call back into it.
    MSComm1->disconnect(this);
    for (DriveButton *b : {btnFwd, btnBack, btnLeft, btnRight})
        b->disconnect(this);
}

void FrmMain::connectControls()
{
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

    for (qsizetype i = 0; i < mnuFileAdapters.size(); ++i)
        connect(mnuFileAdapters[i], &QAction::triggered, this,
                [this, i] { mnuFileAdapter_Click(i); });
    connect(mnuFileExit, &QAction::triggered, this, &FrmMain::mnuFileExit_Click);
    connect(mnuEditCN, &QAction::triggered, this, &FrmMain::mnuEditCN_Click);
    connect(mnuHelpAbout, &QAction::triggered, this, &FrmMain::mnuHelpAbout_Click);

    frameWireless->installEventFilter(this);
    refreshPortTip();
}

void FrmMain::enterState(ConsoleState state)
{
    const StateRow &row = stateRow(state);
    state_ = state;
    btnPort->setText(row.portOpen ? kDisconnect : kConnect);
    for (std::size_t i = 0; i < kControlCount; ++i) {
        const auto c = static_cast<Control>(i);
        if (c == Control::mnuFileAdapters) {
            for (QAction *item : mnuFileAdapters)
                item->setEnabled(row.enabled.contains(c));
        } else {
            control(c)->setEnabled(row.enabled.contains(c));
        }
    }
    if (row.clearsReport)
        rtbWexbin->clear();
}

QWidget *FrmMain::control(Control c) const
{
    switch (c) {
    case Control::frameDrive:
        return frameDrive;
    case Control::btnFwd:
        return btnFwd;
    case Control::btnBack:
        return btnBack;
    case Control::btnLeft:
        return btnLeft;
    case Control::btnRight:
        return btnRight;
    case Control::frameClean:
        return frameClean;
    case Control::btnSpot:
        return btnSpot;
    case Control::btnClean:
        return btnClean;
    case Control::btnMax:
        return btnMax;
    case Control::framePower:
        return framePower;
    case Control::btnSafe:
        return btnSafe;
    case Control::GetSensorData:
        return GetSensorData;
    case Control::frameData:
        return frameData;
    case Control::mnuFileAdapters:
        break;
    }
    return nullptr;
}

void FrmMain::Form_Load()
{
    MSComm1->setRtsEnable(false);
    txtPort->setText(QStringLiteral("57600,n,8,1"));
    enterState(ConsoleState::StartUp);
    for (QAction *item : mnuFileAdapters)
        item->setChecked(false);
    adapterKind_ = link::AdapterKind::None;
}

// ---- Menus ----

void FrmMain::mnuFileAdapter_Click(qsizetype index)
{
    adapterKind_ = link::kAdapters[index].kind;
    for (qsizetype i = 0; i < mnuFileAdapters.size(); ++i)
        mnuFileAdapters[i]->setChecked(i == index);
    // From Disconnected the console stays Disconnected, with the new check.
    if (state_ == ConsoleState::StartUp || state_ == ConsoleState::AdapterChosen)
        enterState(ConsoleState::AdapterChosen);
}

bool FrmMain::wexbinChecked() const
{
    for (qsizetype i = 0; i < mnuFileAdapters.size(); ++i) {
        if (mnuFileAdapters[i]->isChecked())
            return link::kAdapters[i].kind == link::AdapterKind::Wexbin;
    }
    return false;
}

void FrmMain::mnuFileExit_Click()
{
    progEnd();
}

void FrmMain::mnuEditCN_Click()
{
    if (!wexbinChecked()) {
        showMessage(this, tr("For Wexbin Only"));
        return;
    }
    if (!btName_)
        btName_ = new FrmBTName([this] { return wexbinChecked(); }, MSComm1, this);
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
    enterState(ConsoleState::Connected);
}

void FrmMain::disconnectSteps()
{
    beforeClose();
    MSComm1->setPortOpen(false);
    enterState(ConsoleState::Disconnected);
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
        lines << link::portChoiceLine(p);
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

// ---- Live sensor view ----

void FrmMain::GetSensorData_Click()
{
    // The timer is the switch; the caption only shows it (and may come translated).
    if (!timerGetSensor->isActive()) {
        GetSensorData->setText(kStopLive);
        timerGetSensor->setInterval(kPollIntervalMs);
        timerGetSensor->start();
        enterState(ConsoleState::LiveData);
        return;
    }
    poll_.cancel();
    GetSensorData->setText(kStartLive);
    timerGetSensor->stop();
    rtbWexbin->clear();
    // progEnd also stops the switch, from whatever state the console is in.
    if (state_ == ConsoleState::LiveData)
        enterState(ConsoleState::RobotInitialised);
}

void FrmMain::timerGetSensor_Timer()
{
    PollSensors();
}

void FrmMain::PollSensors()
{
    if (!poll_.request())
        return;
    // The request goes out first: no answer can be handled before this handler returns, and
    // nothing hidden here is drawn before then either.
    for (QLabel *indicator :
         {labelBumpLeft, labelBumpRight, labelCaster, labelWheeldropLeft, labelWheeldropRight})
        indicator->setVisible(false);
}

void FrmMain::MSComm1_OnComm()
{
    sci::SensorData sensors;
    if (poll_.take(sensors))
        ProcessSensorData(sensors);
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

void FrmMain::ProcessSensorData(const sci::SensorData &sensors)
{
    // The poll writes the stops and touches no widget; what the packet held is shown after.
    if (!poll_.process(sensors))
        return;
    for (const SensorPoll::StopWrite &stop : poll_.stopWrites())
        noteWrite(stop.written, stop.error);
    for (SensorIndicator indicator : poll_.indicators())
        indicatorLabel(indicator)->setVisible(true);
    const sci::SensorReport &report = poll_.report();
    rtbWexbin->setPlainText(
        QString::fromLatin1(report.data(), static_cast<qsizetype>(report.size())));
}

// ---- Shutdown ----

void FrmMain::progEnd()
{
    if (ended_)
        return;
    ended_ = true;
    if (MSComm1->portOpen()) {
        beforeClose();
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
