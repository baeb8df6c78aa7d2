// velmora-probe: walks the serial line to the robot step by step and says why nothing comes
// back. Qt Core and the console's port code only, so it runs on a board without a display.

#include "link/deviceport.h"
#include "probe/advice.h"
#include "probe/walk.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>

namespace
{

// The adapters' probe names of one wake-up kind, or of all: "krennet, dallop".
QString adapterNames(const QString &separator, velmora::link::AdapterKind kind = {})
{
    QStringList names;
    for (const velmora::link::AdapterProduct &product : velmora::link::kAdapters) {
        if (kind == velmora::link::AdapterKind::None || product.kind == kind)
            names << QLatin1String(product.probeName);
    }
    return names.join(separator);
}

// Exit statuses 3 and 4 are worded by the system's advice.
const char kOptions[] =
    "  --settings TEXT   the console's settings text (default 57600,n,8,1)\n"
    "  --json            one JSON object instead of sentences\n"
    "\n"
    "Exit status:\n"
    "  0  the robot answers: its settings, battery, bumpers, cliffs and wheel drops\n"
    "  1  the probe could not run (wrong arguments, settings or port refused)\n"
    "  2  no such port (or it went away during the walk): the ports that exist\n"
    "  3  %1\n"
    "  4  %2\n"
    "  5  silent at every speed: what was tried, and the likely causes in order\n"
    "  6  something answers, but not as the robot: a sample, and the likely cause\n";

// Worded from the walk's own lines and times, so that it says what goes out.
QString help()
{
    using namespace velmora::probe;
    const Timing t;
    const WakeBursts wake = wexbinWakeBursts();
    const QStringList lines{
        QStringLiteral("usage: velmora-probe PORT [--adapter %1] [--settings TEXT] [--json]")
            .arg(adapterNames(QStringLiteral("|"))),
        QString(),
        QStringLiteral("The first thing to run when the robot does not react. Walks the line to "
                       "the robot step"),
        QStringLiteral("by step and ends with a diagnosis and what to do. It tries the given "
                       "speed, then 57600,"),
        QStringLiteral("115200 and 19200 baud, opening the port anew at each, and stops at the "
                       "first that"),
        QStringLiteral("gives the robot's answer."),
        QString(),
        QStringLiteral("What it sends, and when (nothing else, and nothing that moves the "
                       "robot):"),
        QStringLiteral("  At the first speed only, the wake-up:"),
        QStringLiteral("    %1: RTS set off and on, then %2 ms later off again (if "
                       "the line has RTS);")
            .arg(adapterNames(QStringLiteral(", "), velmora::link::AdapterKind::Wired))
            .arg(velmora::link::kWakePulseMs),
        QStringLiteral("    %1: the AT lines %2,")
            .arg(adapterNames(QStringLiteral(", "), velmora::link::AdapterKind::Wexbin),
                 linesText(wake.first)),
        QStringLiteral("      then %1 ms later %2, each ending in a carriage return;")
            .arg(velmora::link::kWakePulseMs)
            .arg(linesText(wake.second)),
        QStringLiteral("  then %1 ms of waiting: after its wake-up the robot ignores everything "
                       "for about 2 s.")
            .arg(t.afterWakeMs + t.linkDelayMs),
        QStringLiteral("  At each speed: Start (128), %1 ms later Sensors (142 0), then up to %2 "
                       "ms for the")
            .arg(t.afterStartMs)
            .arg(t.answerMs),
        QStringLiteral("  answer (%1 ms with a fourth speed given: %2 ms in all). Start leaves "
                       "the robot in")
            .arg(t.answersTotalMs / 4)
            .arg(t.answersTotalMs),
        QStringLiteral("  passive mode."),
        QString(),
    };
    const QString options =
        QStringLiteral("  PORT              %1\n"
                       "  --adapter NAME    %2 (wake-up by RTS, the default) or %3 (AT lines)\n")
            .arg(portHelp(),
                 adapterNames(QStringLiteral(" or "), velmora::link::AdapterKind::Wired),
                 adapterNames(QStringLiteral(" or "), velmora::link::AdapterKind::Wexbin));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n') + options +
           QString::fromLatin1(kOptions).arg(notAllowedHelp(), busyHelp());
}

void print(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int usage(const QString &why)
{
    std::fprintf(stderr, "velmora-probe: %s\n%s", qPrintable(why), qPrintable(help()));
    return velmora::probe::Usage;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    using namespace velmora;
    probe::Request request;
    bool json = false;
    QStringList args = QCoreApplication::arguments().mid(1);
    while (!args.isEmpty()) {
        const QString a = args.takeFirst();
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(qPrintable(help()), stdout);
            return 0;
        }
        if (a == QLatin1String("--json")) {
            json = true;
        } else if (a == QLatin1String("--adapter") || a == QLatin1String("--settings")) {
            if (args.isEmpty())
                return usage(a + QStringLiteral(" needs a value"));
            const QString v = args.takeFirst();
            if (a == QLatin1String("--settings")) {
                request.settings = v;
            } else {
                const auto *product =
                    std::find_if(std::begin(link::kAdapters), std::end(link::kAdapters),
                                 [&v](const link::AdapterProduct &p) {
                                     return v == QLatin1String(p.probeName);
                                 });
                if (product == std::end(link::kAdapters))
                    return usage(QStringLiteral("unknown adapter \"%1\"").arg(v));
                request.adapter = product->kind;
                request.adapterName = v;
            }
        } else if (a.startsWith(QLatin1String("--")) || !request.port.isEmpty()) {
            return usage(QStringLiteral("unexpected \"%1\"").arg(a));
        } else {
            request.port = a;
        }
    }
    if (request.port.isEmpty())
        return usage(QStringLiteral("which port? Give its number or its device path"));

    link::DevicePort port;
    std::function<void(const QString &)> onStep;
    if (!json)
        onStep = [](const QString &s) { print(QStringLiteral("- ") + s); };
    const probe::Report r = probe::walk(request, port, onStep);
    if (json) {
        print(QString::fromUtf8(QJsonDocument(r.facts).toJson(QJsonDocument::Indented)));
        return r.status;
    }
    print(QStringLiteral("Diagnosis (exit %1): %2").arg(r.status).arg(r.diagnosis));
    for (const QString &d : r.details)
        print(QStringLiteral("  ") + d);
    if (!r.todo.isEmpty())
        print(QStringLiteral("What to do:"));
    for (const QString &t : r.todo)
        print(QStringLiteral("  ") + t);
    return r.status;
}
