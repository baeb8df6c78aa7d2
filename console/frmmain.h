#pragma once

#include "console/controlstates.h"
#include "console/frmmain_ui.h"
#include "console/sensorpoll.h"
#include "link/adapter.h"
#include "link/portnumbers.h"
#include "protocol/sci.h"
#include "protocol/sensordecoder.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QTimer;

namespace velmora::link
{
class SerialPort;
}

namespace velmora::console
{

class FrmAbout;
class FrmBTName;

// The operator console. It takes the serial port it is given (and owns it from then on),
// so tests can hand it a scripted port. The controls are built by FrmMainUi; this class
// connects them and holds the handlers.
class FrmMain : public QMainWindow, private FrmMainUi
{
    Q_OBJECT
public:
    using PortLister = std::function<QList<link::PortChoice>()>;

    explicit FrmMain(link::SerialPort *port, QWidget *parent = nullptr);
    ~FrmMain() override;

    // Lists the machine's ports for the port number's tooltip; asked again whenever the
    // pointer enters the Comm. Panel. The hint tells how an unnumbered device gets a number.
    void setPortLister(PortLister lister, const QString &numberingHint = QString());
    // What times the wake-up pulse of "On"; a QTimer unless a test hands in its own.
    void setWakeClock(std::unique_ptr<link::WakeClock> clock);

    link::AdapterKind adapterKind() const { return adapterKind_; }
    ConsoleState consoleState() const { return state_; }
    qint16 sensorPollActive() const { return poll_.active(); }

    // Robot procedures: each writes its own sequence, checks nothing and changes nothing.
    void goFwd();
    void goBack();
    void goLeft();
    void goRight();
    void goStop();
    void safeMode();

    // Orderly shutdown for Exit and the close box: live data off, Start byte, port closed.
    void progEnd();

    // Stops the robot if one answer to an outstanding sensor request calls for it, and shows
    // the answer.
    void ProcessSensorData(const sci::SensorData &sensors);

signals:
    // Emitted once by progEnd; the application ends its event loop on it.
    void programEnded();

protected:
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    void connectControls();
    void Form_Load();
    // The one place that enables and disables controls: puts the state's row in force.
    void enterState(ConsoleState state);
    // The widget of a control; the adapter items are set apart, as a group.
    QWidget *control(Control c) const;

    // The click of an adapter product's menu item, by its place in link::kAdapters.
    void mnuFileAdapter_Click(qsizetype index);
    // Whether the adapter checked in the File menu is the Bluetooth one, which can be renamed.
    bool wexbinChecked() const;
    void mnuFileExit_Click();
    void mnuEditCN_Click();
    void mnuHelpAbout_Click();

    void btnPort_Click();
    void connectSteps();
    void disconnectSteps();
    void MSComm1_DeviceLost(const QString &why);

    void btnOn_Click();
    void btnOff_Click();
    void btnSafe_Click();
    void btnSpot_Click();
    void btnClean_Click();
    void btnMax_Click();

    void btnFwd_MouseDown();
    void btnFwd_MouseUp();
    void btnBack_MouseDown();
    void btnBack_MouseUp();
    void btnLeft_MouseDown();
    void btnLeft_MouseUp();
    void btnRight_MouseDown();
    void btnRight_MouseUp();
    void driveButton_PressCancelled();
    // Ends any drive press still held, so its stop goes out while the port is still open.
    void stopHeldDrive();
    // What every way of closing the port does first: no drive left running, no wake-up pulse
    // left holding the robot's line.
    void beforeClose();

    void btnSend_Click();

    void GetSensorData_Click();
    void timerGetSensor_Timer();
    void PollSensors();
    void MSComm1_OnComm();
    QLabel *indicatorLabel(sci::SensorIndicator indicator) const;

    // One SCI write; the first failure of a run of failed writes is shown, later ones are not,
    // so a failing poll does not raise a message every tick.
    bool send(const sci::Sequence &sequence);
    // send's account of one write, for the poll's stops too: why is the port's reason.
    bool noteWrite(bool written, const QString &why);
    void refreshPortTip();

    link::SerialPort *MSComm1;
    QTimer *timerGetSensor;
    PortLister portLister_;
    QString numberingHint_;

    ConsoleState state_ = ConsoleState::StartUp;
    link::AdapterKind adapterKind_ = link::AdapterKind::None;
    bool writeFailing_ = false;
    bool ended_ = false;
    // The live view's line traffic; SensorPollActive lives there.
    SensorPoll poll_;
    std::unique_ptr<link::WakeUp> wake_;

    QPointer<FrmAbout> about_;
    QPointer<FrmBTName> btName_;
};

} // namespace velmora::console
