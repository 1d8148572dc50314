// The clock's time text: kept for a second when the format shows no
// milliseconds, never stale.
#include "runlog/clock.h"

#include <QLocale>
#include <QTest>

class TestClock : public QObject
{
    Q_OBJECT

private slots:
    void timeTextFollowsTheTime_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QTime>("first");
        QTest::addColumn<QTime>("second");
        QTest::addColumn<bool>("same");
        QTest::newRow("same second") << "HH:mm:ss" << QTime(5, 15, 9, 10) << QTime(5, 15, 9, 990) << true;
        QTest::newRow("next second") << "HH:mm:ss" << QTime(5, 15, 9, 990) << QTime(5, 15, 10, 0) << false;
        QTest::newRow("same second, next hour") << "HH:mm:ss" << QTime(5, 15, 9) << QTime(6, 15, 9) << false;
        QTest::newRow("back in time") << "h:mm:ss AP" << QTime(13, 0, 0) << QTime(12, 59, 59) << false;
        QTest::newRow("milliseconds shown") << "HH:mm:ss.zzz" << QTime(5, 15, 9, 10) << QTime(5, 15, 9, 990) << false;
    }
    void timeTextFollowsTheTime()
    {
        QFETCH(QString, format);
        QFETCH(QTime, first);
        QFETCH(QTime, second);
        QFETCH(bool, same);
        const FormatClock clock(QStringLiteral("M/d/yyyy"), format);
        const QString a = clock.longTime(first);
        const QString b = clock.longTime(second);
        QCOMPARE(a, QLocale::system().toString(first, format));
        QCOMPARE(b, QLocale::system().toString(second, format));
        QCOMPARE(a == b, same);
    }
};

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
