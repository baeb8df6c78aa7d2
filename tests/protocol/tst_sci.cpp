#include "protocol/sci.h"

#include <QtTest>

using velmora::sci::Sequence;
Q_DECLARE_METATYPE(Sequence)

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
        QTest::newRow("limits") << -32768 << 1 << Sequence{137, 0x80, 0, 0, 1};
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
};

QTEST_APPLESS_MAIN(TestSci)
#include "tst_sci.moc"
