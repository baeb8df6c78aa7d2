#pragma once

#include <functional>

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

// The rename dialog of the Bluetooth adapter. It reaches the main window's port and asks it
// whether the adapter checked in its File menu is one that can be renamed, and is discarded when
// closed by its close box.
class FrmBTName : public QWidget
{
    Q_OBJECT
public:
    FrmBTName(std::function<bool()> wexbinChecked, link::SerialPort *port,
              QWidget *parent = nullptr);

    // Shows the dialog; the first time it runs the load check, which may hide it again.
    void present();

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    // Returns false when the dialog refused to load and stays hidden.
    bool Form_Load();
    void cmdSetName_Click();

    std::function<bool()> wexbinChecked_;
    QPointer<link::SerialPort> port_;
    bool loaded_ = false;

    QLineEdit *txtBTName;
    QPushButton *cmdSetName;
};

} // namespace velmora::console
