#pragma once

#include <QList>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QMenu;
class QPushButton;
class QTextEdit;

namespace velmora::console
{

class DriveButton;

// The main window's controls and menus as designed: created, named, placed in twips, in the
// designed tab order, and nothing more. FrmMain connects them and gives them their behaviour.
// Members carry the controls' own names, which are also their object names.
struct FrmMainUi {
    QGroupBox *frameDrive = nullptr;
    DriveButton *btnFwd = nullptr;
    DriveButton *btnRight = nullptr;
    DriveButton *btnBack = nullptr;
    DriveButton *btnLeft = nullptr;
    QGroupBox *frameClean = nullptr;
    QPushButton *btnSpot = nullptr;
    QPushButton *btnClean = nullptr;
    QPushButton *btnMax = nullptr;
    QGroupBox *frameData = nullptr;
    QLineEdit *txtSCI = nullptr;
    QPushButton *btnSend = nullptr;
    QGroupBox *frameWireless = nullptr;
    QLineEdit *txtPort = nullptr;
    QPushButton *btnPort = nullptr;
    QLineEdit *txtPortNum = nullptr;
    QLabel *Label1 = nullptr;
    QGroupBox *framePower = nullptr;
    QPushButton *btnOn = nullptr;
    QPushButton *btnOff = nullptr;
    QPushButton *btnSafe = nullptr;
    QPushButton *GetSensorData = nullptr;
    QGroupBox *WexbinIO = nullptr;
    QLabel *labelBumpLeft = nullptr;
    QLabel *labelWheeldropLeft = nullptr;
    QLabel *labelCaster = nullptr;
    QLabel *labelWheeldropRight = nullptr;
    QLabel *labelBumpRight = nullptr;
    QTextEdit *rtbWexbin = nullptr;

    QMenu *mnuFile = nullptr;
    // mnuFileKrennet, mnuFileDallop, mnuFileWexbin: one checkable item per adapter product, in
    // the order of link::kAdapters.
    QList<QAction *> mnuFileAdapters;
    QAction *mnuFileExit = nullptr;
    QMenu *mnuEdit = nullptr;
    QAction *mnuEditCN = nullptr;
    QMenu *mnuHelp = nullptr;
    QAction *mnuHelpAbout = nullptr;

    void setupUi(QMainWindow *frmMain);
};

} // namespace velmora::console
