// The main window's handlers that command the robot: its procedures, the writer that tells the
// operator of failed writes, the power, cleaning and drive panels and raw bytes.
#include "console/drivebutton.h"
#include "console/frmmain.h"
#include "console/messages.h"
#include "console/numbers.h"
#include "link/serialport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace velmora::console
{

// ---- Writing ----

bool FrmMain::send(const sci::Sequence &sequence)
{
    const bool written = sci::sendSci(*MSComm1, sequence);
    return noteWrite(written, written ? QString() : MSComm1->errorString());
}

bool FrmMain::noteWrite(bool written, const QString &why)
{
    if (written) {
        writeFailing_ = false;
        return true;
    }
    if (!writeFailing_) {
        writeFailing_ = true;
        showMessage(this, tr("Sending to the robot failed.\n\n%1").arg(why));
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
    if (!wake_->start(adapterKind_))
        showMessage(this, tr("The robot could not be woken.\n\n%1").arg(MSComm1->errorString()));
}

void FrmMain::setWakeClock(std::unique_ptr<link::WakeClock> clock)
{
    if (wake_)
        wake_->finish();
    wake_ = std::make_unique<link::WakeUp>(*MSComm1, std::move(clock));
    wake_->setOnEnded([this](bool ok) {
        if (!ok)
            showMessage(this,
                        tr("The robot could not be woken.\n\n%1").arg(MSComm1->errorString()));
    });
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
    enterState(timerGetSensor->isActive() ? ConsoleState::LiveData
                                          : ConsoleState::RobotInitialised);
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

void FrmMain::stopHeldDrive()
{
    // Once the port is closed no stop can reach the robot, which would drive on.
    for (DriveButton *b : {btnFwd, btnBack, btnLeft, btnRight})
        b->cancelPress();
}

void FrmMain::beforeClose()
{
    stopHeldDrive();
    wake_->finish();
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

} // namespace velmora::console
