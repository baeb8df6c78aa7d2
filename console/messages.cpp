#include "console/messages.h"

#include <QMessageBox>

namespace velmora::console
{

QMessageBox *showMessage(QWidget *parent, const QString &text)
{
    auto *box = new QMessageBox(parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QString::fromLatin1(kAppTitle));
    box->setIcon(QMessageBox::NoIcon);
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setStandardButtons(QMessageBox::Ok);
    box->open();
    return box;
}

} // namespace velmora::console
