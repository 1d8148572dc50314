// The failure model and the conversions every procedure relies on.
#include "startup/conversions.h"
#include "startup/failure.h"
#include "startup/nametables.h"
#include "support/fakes.h"

#include <QTest>

class TestFailure : public QObject
{
    Q_OBJECT
private slots:
    void hex_data()
    {
        QTest::addColumn<qint64>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("13") << qint64(13) << "D";
        QTest::newRow("255") << qint64(255) << "FF";
        QTest::newRow("666") << qint64(666) << "29A";
        QTest::newRow("1638") << qint64(1638) << "666";
        QTest::newRow("zero") << qint64(0) << "0";
        QTest::newRow("-1") << qint64(-1) << "FFFFFFFF";
        QTest::newRow("scode") << qint64(qint32(0x800A274D)) << "800A274D";
    }
    void hex()
    {
        QFETCH(qint64, number);
        QFETCH(QString, text);
        QCOMPARE(Hex(number), text);
    }

    void guardWritesOneErrorLineAndReturns()
    {
        RecordingSink sink;
        bool after = false;
        const bool done = Guard(sink, QStringLiteral(" in frmMain.CheckPort; "), [&] {
            ToLong(QStringLiteral("abc"));
            after = true;
        });
        QVERIFY(!done);
        QVERIFY(!after);
        QCOMPARE(sink.lines.size(), 1);
        QCOMPARE(sink.lines[0].text(),
                 QStringLiteral("** Error 0xD:\t in frmMain.CheckPort; Type mismatch\r\n"));
    }

    void guardMapsStandardFailures()
    {
        RecordingSink sink;
        Guard(sink, QStringLiteral(" in x.y; "), [] { throw std::bad_alloc(); });
        Guard(sink, QStringLiteral(" in x.y; "), [] { throw 42; });
        QCOMPARE(sink.lines[0].speaker, QStringLiteral("** Error 0x7"));
        QCOMPARE(sink.lines[1].speaker, QStringLiteral("** Error 0x5"));
    }

    void emptyDescriptionEndsInSemicolonBlank()
    {
        RecordingSink sink;
        Guard(sink, QStringLiteral(" in frmMain.Send; "), [] { Raise(40006, QString()); });
        QCOMPARE(sink.lines[0].text(), QStringLiteral("** Error 0x9C46:\t in frmMain.Send; \r\n"));
    }

    void toLong_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("error"); // 0: converts
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "80" << 0 << 80;
        QTest::newRow("blanks") << "  80 " << 0 << 80;
        QTest::newRow("sign") << "-5" << 0 << -5;
        QTest::newRow("plus") << "+7" << 0 << 7;
        QTest::newRow("half even down") << "2.5" << 0 << 2;
        QTest::newRow("half even up") << "3.5" << 0 << 4;
        QTest::newRow("exponent") << "1e3" << 0 << 1000;
        QTest::newRow("max") << "2147483647" << 0 << 2147483647;
        QTest::newRow("empty") << "" << 13 << 0;
        QTest::newRow("blank only") << "   " << 13 << 0;
        QTest::newRow("letters") << "8a" << 13 << 0;
        QTest::newRow("dot only") << "." << 13 << 0;
        QTest::newRow("bad exponent") << "1e" << 13 << 0;
        QTest::newRow("inner blank") << "8 0" << 13 << 0;
        QTest::newRow("overflow") << "2147483648" << 6 << 0;
        QTest::newRow("huge") << "1e999" << 6 << 0;
    }
    void toLong()
    {
        QFETCH(QString, text);
        QFETCH(int, error);
        QFETCH(int, value);
        try {
            const qint32 got = ToLong(text);
            QCOMPARE(error, 0);
            QCOMPARE(got, value);
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number, error);
            QCOMPARE(e.description, StandardDescription(error));
        }
    }

    void toByteRange()
    {
        QCOMPARE(ToByte(QStringLiteral("255")), quint8(255));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, ToByte(QStringLiteral("256")));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, ToByte(QStringLiteral("-1")));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, ToByte(QString()));
    }

    void nameTableOutOfRangeFails()
    {
        NameTable protocol;
        for (const QString &name : ProtocolNames())
            protocol.append(name);
        QCOMPARE(protocol.name(1), QStringLiteral("UDP")); // entry code + 1, counted from 1
        for (int code : {-1, 2}) {
            try {
                protocol.name(code);
                QFAIL("no failure");
            } catch (const RuntimeError &e) {
                QCOMPARE(e.number, 9);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestFailure)
#include "tst_failure.moc"
