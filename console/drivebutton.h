#pragma once

#include <QPushButton>

namespace velmora::console
{

// A drive button reports raw mouse presses and releases of any mouse button, never clicks,
// so keyboard activation drives nothing. The second press of a double click is a press too.
// A press that ends without a release (window deactivated, button disabled or hidden) is
// reported once as cancelled, so the robot is not left driving.
class DriveButton : public QPushButton
{
    Q_OBJECT
public:
    explicit DriveButton(const QString &text, QWidget *parent = nullptr);

    bool isHeld() const { return held_ != Qt::NoButton; }
    // Ends a held press without its release (pressCancelled, once); nothing if none is held.
    void cancelPress();

signals:
    void mouseDown();
    void mouseUp();
    void pressCancelled();

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void changeEvent(QEvent *e) override;
    void hideEvent(QHideEvent *e) override;
    bool event(QEvent *e) override;

private:
    void press(QMouseEvent *e);

    Qt::MouseButtons held_ = Qt::NoButton;
};

} // namespace velmora::console
