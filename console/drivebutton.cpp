#include "console/drivebutton.h"

#include <QMouseEvent>

namespace velmora::console
{

DriveButton::DriveButton(const QString &text, QWidget *parent) : QPushButton(text, parent) {}

void DriveButton::press(QMouseEvent *e)
{
    held_ |= e->button();
    // The base class only tracks the left button; it gives the pressed look.
    if (e->button() == Qt::LeftButton)
        QPushButton::mousePressEvent(e);
    // Accepting keeps the press (and with it the release) on this button.
    e->accept();
    emit mouseDown();
}

void DriveButton::mousePressEvent(QMouseEvent *e)
{
    press(e);
}

void DriveButton::mouseDoubleClickEvent(QMouseEvent *e)
{
    press(e);
}

void DriveButton::mouseReleaseEvent(QMouseEvent *e)
{
    held_ &= ~e->button();
    if (e->button() == Qt::LeftButton)
        QPushButton::mouseReleaseEvent(e);
    e->accept();
    emit mouseUp();
}

void DriveButton::cancelPress()
{
    if (!isHeld())
        return;
    held_ = Qt::NoButton;
    setDown(false);
    emit pressCancelled();
}

void DriveButton::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::EnabledChange && !isEnabled())
        cancelPress();
    QPushButton::changeEvent(e);
}

void DriveButton::hideEvent(QHideEvent *e)
{
    cancelPress();
    QPushButton::hideEvent(e);
}

bool DriveButton::event(QEvent *e)
{
    if (e->type() == QEvent::WindowDeactivate)
        cancelPress();
    return QPushButton::event(e);
}

} // namespace velmora::console
