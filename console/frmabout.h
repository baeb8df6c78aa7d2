#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace velmora::console
{

// The About window: created on first use, hidden (not destroyed) by its Ok button.
class FrmAbout : public QWidget
{
    Q_OBJECT
public:
    explicit FrmAbout(QWidget *parent = nullptr);

private:
    void Command1_Click();

    QLabel *Label1;
    QLabel *Label2;
    QPushButton *Command1;
    QLabel *Label3;
};

} // namespace velmora::console
