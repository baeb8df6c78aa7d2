#include "link/linesettings.h"

#include <QStringList>

namespace velmora::link
{

namespace
{
bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}
} // namespace

bool parseLineSettings(const QString &text, LineSettings *settings, QString *error)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        return fail(error,
                    QStringLiteral(
                        "The settings \"%1\" must be four fields: baud,parity,data bits,stop bits "
                        "(for example 57600,n,8,1).")
                        .arg(text));

    LineSettings s;
    const QString baud = fields[0].trimmed();
    bool ok = false;
    const qlonglong rate = baud.toLongLong(&ok);
    bool digitsOnly = !baud.isEmpty();
    for (QChar c : baud)
        digitsOnly = digitsOnly && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (!ok || !digitsOnly || rate <= 0 || rate > 4000000)
        return fail(
            error,
            QStringLiteral("The baud rate \"%1\" in the settings is not a positive whole number.")
                .arg(fields[0]));
    s.baud = static_cast<int>(rate);

    const QString parity = fields[1].trimmed().toLower();
    if (parity == QLatin1String("n"))
        s.parity = Parity::None;
    else if (parity == QLatin1String("e"))
        s.parity = Parity::Even;
    else if (parity == QLatin1String("o"))
        s.parity = Parity::Odd;
    else if (parity == QLatin1String("m"))
        s.parity = Parity::Mark;
    else if (parity == QLatin1String("s"))
        s.parity = Parity::Space;
    else
        return fail(error, QStringLiteral(
                               "The parity \"%1\" in the settings must be one of n, e, o, m or s.")
                               .arg(fields[1]));

    const QString data = fields[2].trimmed();
    if (data.size() != 1 || data[0] < QLatin1Char('5') || data[0] > QLatin1Char('8'))
        return fail(error,
                    QStringLiteral("The data bits \"%1\" in the settings must be 5, 6, 7 or 8.")
                        .arg(fields[2]));
    s.dataBits = data[0].unicode() - u'0';

    const QString stop = fields[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = StopBits::One;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = StopBits::OneAndHalf;
    else if (stop == QLatin1String("2"))
        s.stopBits = StopBits::Two;
    else
        return fail(error,
                    QStringLiteral("The stop bits \"%1\" in the settings must be 1, 1.5 or 2.")
                        .arg(fields[3]));
    *settings = s;
    return true;
}

} // namespace velmora::link
