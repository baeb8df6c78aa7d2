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
    // The named sequences are shown on the wire by the console's port-traffic test; here the
    // one encoder that computes its bytes: 16-bit velocity and radius, high byte first.
    void drive_data()
    {
        QTest::addColumn<int>("velocity");
        QTest::addColumn<int>("radius");
        QTest::addColumn<Sequence>("expected");
        QTest::newRow("-500 mm/s, radius -2000")
            << -500 << -2000 << Sequence{137, 0xFE, 0x0C, 0xF8, 0x30};
        QTest::newRow("255 mm/s straight")
            << 255 << int(velmora::sci::kRadiusStraight) << Sequence{137, 0, 255, 128, 0};
        QTest::newRow("slowest back, radius 1") << -32768 << 1 << Sequence{137, 0x80, 0, 0, 1};
        QTest::newRow("turn in place clockwise") << 255 << -1 << Sequence{137, 0, 255, 255, 255};
    }
    void drive()
    {
        QFETCH(int, velocity);
        QFETCH(int, radius);
        QFETCH(Sequence, expected);
        QCOMPARE(velmora::sci::drive(static_cast<std::int16_t>(velocity),
                                     static_cast<std::uint16_t>(radius)),
                 expected);
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
