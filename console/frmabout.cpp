#include "console/frmabout.h"

#include "console/twips.h"

#include <QLabel>
#include <QPushButton>

namespace velmora::console
{

namespace
{
// Two blanks follow each full stop inside the text, as the window has always shown it.
constexpr char kDisclaimer[] =
    "This program comes with no warranty of any kind.  You use it, and drive "
    "the robot with it, at your own risk.  Keep the robot in sight while it moves.";
} // namespace

FrmAbout::FrmAbout(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(tr("About Velmora"));
    setFixedSize(twipsSize(4680, 2340));
    setFont(designFont());

    Label1 = new QLabel(tr("Velmora"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    // The title names a face of its own; where that is missing the design face stands in.
    QFont title = designFont(13.5);
    title.setFamilies(QStringList{QStringLiteral("MS Sans Serif")} + title.families());
    Label1->setFont(title);
    Label1->setGeometry(twips(120, 240, 3615, 375));

    Label2 = new QLabel(QString::fromLatin1(kDisclaimer), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label2->setGeometry(twips(120, 720, 4335, 975));

    Command1 = new QPushButton(tr("Ok"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twips(3120, 1680, 1335, 495));
    connect(Command1, &QPushButton::clicked, this, &FrmAbout::Command1_Click);

    Label3 = new QLabel(tr("Version 2.3"), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setGeometry(twips(120, 1800, 1815, 375));
}

void FrmAbout::Command1_Click()
{
    hide();
}

} // namespace velmora::console
