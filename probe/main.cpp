// velmora-probe: walks the serial line to the robot step by step and says why nothing comes
// back. Qt Core and Qt SerialPort only, so it runs on a board without a display.

#include "link/qtserialport.h"
#include "probe/walk.h"

#include <QCoreApplication>
#include <QJsonDocument>

#include <cstdio>

namespace
{

const char kHelp[] =
    "usage: velmora-probe PORT [--adapter krennet|dallop|wexbin] [--settings TEXT] [--json]\n"
    "\n"
    "The first thing to run when the robot does not react. Walks the line to the robot step\n"
    "by step and ends with a diagnosis and what to do. It sends what the console sends: the\n"
    "adapter's wake-up, Start (128) and a sensor request (142 0), nothing that moves the\n"
    "robot; Start leaves the robot in passive mode. It tries the given speed, then 57600,\n"
    "115200 and 19200 baud, and stops at the first that gives the robot's answer.\n"
    "\n"
    "  PORT              a port number as the console takes it, or a device path\n"
    "  --adapter NAME    krennet or dallop (wake-up by RTS, the default) or wexbin (AT lines)\n"
    "  --settings TEXT   the console's settings text (default 57600,n,8,1)\n"
    "  --json            one JSON object instead of sentences\n"
    "\n"
    "Exit status:\n"
    "  0  the robot answers: its settings, battery, bumpers, cliffs and wheel drops\n"
    "  1  the probe could not run (wrong arguments, settings or port refused)\n"
    "  2  no such port (or it went away during the walk): the ports that exist\n"
    "  3  not allowed to open the port: its owner, group and mode, and how to join\n"
    "  4  busy: which process holds the port, and how to free it\n"
    "  5  silent at every speed: what was tried, and the likely causes in order\n"
    "  6  something answers, but not as the robot: a sample, and the likely cause\n";

void print(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int usage(const QString &why)
{
    std::fprintf(stderr, "velmora-probe: %s\n%s", qPrintable(why), kHelp);
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
            std::fputs(kHelp, stdout);
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
            } else if (v == QLatin1String("krennet") || v == QLatin1String("dallop")) {
                request.adapter = link::AdapterKind::Wired;
                request.adapterName = v;
            } else if (v == QLatin1String("wexbin")) {
                request.adapter = link::AdapterKind::Wexbin;
                request.adapterName = v;
            } else {
                return usage(QStringLiteral("unknown adapter \"%1\"").arg(v));
            }
        } else if (a.startsWith(QLatin1String("--")) || !request.port.isEmpty()) {
            return usage(QStringLiteral("unexpected \"%1\"").arg(a));
        } else {
            request.port = a;
        }
    }
    if (request.port.isEmpty())
        return usage(QStringLiteral("which port? Give its number or its device path"));

    link::QtSerialPort port;
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
