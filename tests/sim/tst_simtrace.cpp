// What the trace says: how it words each command it receives, and its JSON lines.

#include "simrig.h"

#include <QtTest>

#include <cstdio>

using namespace velmora::sim;
using namespace velmora::sim::test;

class TestSimTrace : public QObject
{
    Q_OBJECT

private slots:
    // Each row: bytes that set the robot up, then the bytes whose line is checked: its meaning
    // and its bytes.
    void commandWording_data()
    {
        QTest::addColumn<QByteArray>("setup");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("meaning");
        const QByteArray none;
        QTest::newRow("ignored in off mode")
            << none << kSensors0 << "Sensors packet 0 (ignored in off mode)";
        QTest::newRow("drive out of range")
            << kStart << bytes({137, 142, 0, 142, 0})
            << "Drive -29184 mm/s radius -29184 mm (turning right) (velocity out of range: -500 "
               "mm/s) (radius out of range: -2000 mm) (ignored in passive mode)";
        QTest::newRow("radius 0")
            << kSafe << bytes({137, 0, 255, 0, 0})
            << "Drive 255 mm/s radius 0 (undefined: turning in place counter-clockwise)";
        QTest::newRow("no such packet")
            << kStart << bytes({142, 128}) << "Sensors packet 128 (no such packet: not answered)";
        QTest::newRow("song not stored") << kSafe + bytes({140, 3, 17}) << bytes({141, 3})
                                         << "Play song 3 (not defined: silent)";
        QTest::newRow("dock seeking without a cycle")
            << none << bytes({143}) << "Force-Seeking-Dock (no cleaning cycle: no effect)";
    }
    void commandWording()
    {
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, input);
        QFETCH(QString, meaning);
        Rig rig;
        rig.send(setup);
        rig.trace.clearEntries();
        rig.send(input);
        const auto &entries = rig.trace.entries();
        const auto last = std::find_if(entries.rbegin(), entries.rend(), [](const Trace::Entry &e) {
            return e.dir == Trace::Dir::Rx;
        });
        QVERIFY(last != entries.rend());
        QCOMPARE(QString::fromStdString(last->meaning), meaning);
        QCOMPARE(joined(last->bytes), input);
    }

    void traceJsonLines()
    {
        std::FILE *f = std::tmpfile();
        QVERIFY(f);
        auto contents = [f] {
            std::fflush(f);
            std::rewind(f);
            QByteArray all;
            char buf[512];
            while (std::size_t n = std::fread(buf, 1, sizeof buf, f))
                all.append(buf, qsizetype(n));
            return all;
        };
        Trace trace(10.0);
        trace.setJson(f);
        const QByteArray head =
            "{\"t\":0,\"dir\":\"info\",\"clock\":\"monotonic\",\"t0\":10.000000}\n";
        QCOMPARE(contents(), head);
        // Held lines wait for the release and keep the times they were made with.
        trace.hold();
        trace.rx(10.5, {128}, "Start");
        trace.tx(10.625, {79, 75, 13, 10}, "AT reply OK");
        QCOMPARE(contents(), head);
        trace.release();
        trace.info(11.0, "renamed to \"a\\b\"\x01\xe9");
        QCOMPARE(contents(),
                 head + "{\"t\":0.500000,\"dir\":\"rx\",\"bytes\":[128],\"meaning\":\"Start\"}\n"
                        "{\"t\":0.625000,\"dir\":\"tx\",\"bytes\":[79,75,13,10],\"meaning\":\"AT "
                        "reply OK\"}\n"
                        "{\"t\":1.000000,\"dir\":\"info\",\"meaning\":\"renamed to "
                        "\\\"a\\\\b\\\"\\u0001\\u00e9\"}\n");
        std::fclose(f);
    }
};

QTEST_APPLESS_MAIN(TestSimTrace)
#include "tst_simtrace.moc"
