// PaneFeed: what the pane shows, and when, for lines that come fast.
#include "console/panefeed.h"

#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

class TestPaneFeed : public QObject
{
    Q_OBJECT

    static constexpr int Limit = 100;
    static constexpr int Columns = 10;

    static QString numbered(int from, int to)
    {
        QString text;
        for (int n = from; n < to; ++n)
            text += QString::number(n) + QStringLiteral("\r\n");
        return text;
    }

private slots:
    void quietLineAtOnceFollowersAfterAStep()
    {
        QPlainTextEdit pane;
        PaneFeed feed(&pane, Limit, Columns);
        feed.append("one\r\n");
        QCOMPARE(pane.toPlainText(), QStringLiteral("one\n"));
        feed.append("two\r\n");
        QCOMPARE(pane.toPlainText(), QStringLiteral("one\n")); // waits
        QTRY_COMPARE(pane.toPlainText(), QStringLiteral("one\ntwo\n"));
        QCOMPARE(pane.textCursor().position(), pane.document()->characterCount() - 1);
    }

    void displayForm_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("shown");
        QTest::newRow("line ends") << QStringList{"a\rb\r\nc\n"} << "a\nb\nc\n";
        QTest::newRow("long line in pieces") << QStringList{"abcdefghijklmnopqrstuvw"} << "abcdefghij\nklmnopqrst\nuvw";
        QTest::newRow("the column runs on across lines") << QStringList{"abcdefgh", "ijkl\r\nmn"}
                                                         << "abcdefghij\nkl\nmn";
        QTest::newRow("exactly the limit") << QStringList{"abcdefghij\r\n"} << "abcdefghij\n";
        // An empty text here stands for clear(): it drops the shown and the
        // waiting text, and the column starts again at 0.
        QTest::newRow("clear forgets what waits") << QStringList{"one\r\n", "two\r\nabcdefgh", "", "abcdefg"} << "abcdefg";
    }
    void displayForm()
    {
        QFETCH(QStringList, texts);
        QFETCH(QString, shown);
        QPlainTextEdit pane;
        PaneFeed feed(&pane, Limit, Columns);
        for (const QString &text : texts)
            text.isEmpty() ? feed.clear() : feed.append(text);
        feed.flush();
        QCOMPARE(pane.toPlainText(), shown);
    }

    void floodKeepsTheNewestLinesInOrder_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("perAppend");
        QTest::addColumn<int>("chars"); // the bound in characters
        QTest::newRow("one big text") << Limit * 3 << Limit * 3 << 100000;
        QTest::newRow("many small texts") << Limit * 3 << 7 << 100000;
        QTest::newRow("just over the limit") << Limit + 15 << 1 << 100000;
        QTest::newRow("bounded in characters") << Limit * 3 << 7 << 200;
    }
    void floodKeepsTheNewestLinesInOrder()
    {
        QFETCH(int, lines);
        QFETCH(int, perAppend);
        QFETCH(int, chars);
        QPlainTextEdit pane;
        PaneFeed feed(&pane, Limit, Columns, chars);
        QSignalSpy dropped(&feed, &PaneFeed::linesDropped);
        for (int n = 0; n < lines; n += perAppend)
            feed.append(numbered(n, std::min(n + perAppend, lines)));
        feed.flush();
        const QStringList shown = pane.toPlainText().split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(shown.size() >= std::min(Limit, chars / 5) && shown.size() <= Limit + Limit / 10,
                 qPrintable(QString::number(shown.size())));
        QVERIFY(pane.toPlainText().size() <= chars + chars / 10);
        QCOMPARE(shown.last(), QString::number(lines - 1));
        for (int i = 1; i < shown.size(); ++i)
            QCOMPARE(shown[i].toInt(), shown[i - 1].toInt() + 1);
        QVERIFY(!dropped.isEmpty());
    }
};

QTEST_MAIN(TestPaneFeed)
#include "tst_panefeed.moc"
