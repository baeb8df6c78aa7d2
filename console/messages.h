#pragma once

#include <QString>

class QMessageBox;
class QWidget;

namespace velmora::console
{

inline constexpr char kAppTitle[] = "Velmora";

// Every message of the console: the text, one OK button, no icon, the title "Velmora".
// The box is opened window-modal without a nested event loop and deletes itself when closed.
QMessageBox *showMessage(QWidget *parent, const QString &text);

} // namespace velmora::console
