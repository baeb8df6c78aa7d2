#include "console/frmbtname.h"

#include "console/messages.h"
#include "console/twips.h"
#include "link/adapter.h"
#include "link/serialport.h"

#include <QAction>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

namespace velmora::console
{

FrmBTName::FrmBTName(std::function<bool()> wexbinChecked, link::SerialPort *port, QWidget *parent)
    : QWidget(parent, Qt::Window), wexbinChecked_(std::move(wexbinChecked)), port_(port)
{
    setObjectName(QStringLiteral("frmBTName"));
    setWindowTitle(tr("Change BlueTooth Name"));
    setFixedSize(twipsSize(4200, 1050));
    setFont(designFont());

    txtBTName = new QLineEdit(this);
    txtBTName->setObjectName(QStringLiteral("txtBTName"));
    txtBTName->setGeometry(twips(360, 360, 2535, 375));

    cmdSetName = new QPushButton(tr("Set Name"), this);
    cmdSetName->setObjectName(QStringLiteral("cmdSetName"));
    cmdSetName->setGeometry(twips(3000, 360, 855, 375));
    connect(cmdSetName, &QPushButton::clicked, this, &FrmBTName::cmdSetName_Click);

    setTabOrder(txtBTName, cmdSetName);
}

void FrmBTName::present()
{
    if (!loaded_) {
        loaded_ = true;
        if (!Form_Load())
            return;
    }
    show();
    raise();
    activateWindow();
}

bool FrmBTName::Form_Load()
{
    if (wexbinChecked_())
        return true;
    // The dialog is about to hide, so the message goes over the window that asked for it.
    showMessage(parentWidget() ? parentWidget() : this, tr("This feature only works for Wexbin."));
    hide();
    return false;
}

void FrmBTName::cmdSetName_Click()
{
    if (!port_ || !port_->portOpen())
        return;
    QString why;
    if (!link::renameAdapter(*port_, txtBTName->text(), &why))
        showMessage(this, why);
}

void FrmBTName::closeEvent(QCloseEvent *e)
{
    // The close box discards the dialog; the next "Change Name" builds a fresh one.
    e->accept();
    deleteLater();
}

} // namespace velmora::console
