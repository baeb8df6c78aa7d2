#pragma once

#include <QPointer>
#include <QWidget>

class QAction;
class QLineEdit;
class QPushButton;

namespace velmora::link
{
class SerialPort;
}

namespace velmora::console
{

// The rename dialog of the Bluetooth adapter. It reaches the main window's port and its
// Wexbin menu item, and is discarded when closed by its close box.
class FrmBTName : public QWidget
{
    Q_OBJECT
public:
    FrmBTName(QAction *wexbinItem, link::SerialPort *port, QWidget *parent = nullptr);

    // Shows the dialog; the first time it runs the load check, which may hide it again.
    void present();

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    // Returns false when the dialog refused to load and stays hidden.
    bool Form_Load();
    void cmdSetName_Click();

    QPointer<QAction> wexbinItem_;
    QPointer<link::SerialPort> port_;
    bool loaded_ = false;

    QLineEdit *txtBTName;
    QPushButton *cmdSetName;
};

} // namespace velmora::console
