#include "protocol/sci.h"

#include <QtTest>

using velmora::sci::Sequence;
Q_DECLARE_METATYPE(Sequence)

namespace
{
// Records each write separately so grouping is visible.
class RecordingWriter : public velmora::sci::ByteWriter
{
public:
    bool writeBytes(const Sequence &bytes) override
    {
        writes.push_back(bytes);
        return true;
    }
    std::vector<Sequence> writes;
};
} // namespace

class TestSci : public QObject
{
    Q_OBJECT
private slots:
    void table_data()
    {
        namespace sci = velmora::sci;
        QTest::addColumn<Sequence>("actual");
        QTest::addColumn<Sequence>("expected");
        QTest::newRow("safeMode") << sci::safeMode() << Sequence{128, 130};
        QTest::newRow("goFwd") << sci::goFwd() << Sequence{137, 0, 255, 128, 0};
        QTest::newRow("goBack") << sci::goBack() << Sequence{137, 255, 64, 128, 0};
        QTest::newRow("goLeft") << sci::goLeft() << Sequence{137, 0, 255, 0, 0};
        QTest::newRow("goRight") << sci::goRight() << Sequence{137, 0, 255, 255, 255};
        QTest::newRow("goStop") << sci::goStop() << Sequence{137, 0, 0, 0, 0};
        QTest::newRow("sciPower") << sci::sciPower() << Sequence{133};
        QTest::newRow("sciSpot") << sci::sciSpot() << Sequence{134};
        QTest::newRow("sciClean") << sci::sciClean() << Sequence{135};
        QTest::newRow("sciMax") << sci::sciMax() << Sequence{136};
        QTest::newRow("sciStart") << sci::sciStart() << Sequence{128};
        QTest::newRow("sciSensors") << sci::sciSensors() << Sequence{142, 0};
        QTest::newRow("raw 0") << sci::sciRawByte(0) << Sequence{0};
        QTest::newRow("raw 131") << sci::sciRawByte(131) << Sequence{131};
        QTest::newRow("raw 255") << sci::sciRawByte(255) << Sequence{255};
        QTest::newRow("drive -500 radius -2000")
            << sci::drive(-500, static_cast<std::uint16_t>(-2000))
            << Sequence{137, 0xFE, 0x0C, 0xF8, 0x30};
    }
    void table()
    {
        QFETCH(Sequence, actual);
        QFETCH(Sequence, expected);
        QCOMPARE(actual, expected);
    }

    // One sequence is one write, bytes as they are, zeros included; two are never merged.
    void sendSciIsOneWriteEach()
    {
        RecordingWriter w;
        QVERIFY(velmora::sci::sendSci(w, velmora::sci::goStop()));
        QVERIFY(velmora::sci::sendSci(w, velmora::sci::goStop()));
        QVERIFY(velmora::sci::sendSci(w, velmora::sci::sciRawByte(0)));
        QCOMPARE(w.writes, (std::vector<Sequence>{{137, 0, 0, 0, 0}, {137, 0, 0, 0, 0}, {0}}));
    }
};

QTEST_APPLESS_MAIN(TestSci)
#include "tst_sci.moc"
