// The daily log file: its name, its layout, appending, and failures.
#include "runlog/clock.h"
#include "runlog/runlog.h"
#include "startup/globals.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

class TestRunLog : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    void pin(TestGlobals &t)
    {
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path() + "/Selmarin");
        t.env->variables = {{"PROGRAMFILES", m_dir.path()}, {"COMPUTERNAME", "PC17"}};
    }
    static QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void fileName_data()
    {
        QTest::addColumn<QString>("dateFormat");
        QTest::addColumn<QString>("name");
        QTest::newRow("slashes become dashes") << "M/d/yyyy" << "PC17_12-4-2026.log";
        QTest::newRow("dots are kept") << "dd.MM.yyyy" << "PC17_04.12.2026.log";
        QTest::newRow("iso") << "yyyy-MM-dd" << "PC17_2026-12-04.log";
    }
    void fileName()
    {
        QFETCH(QString, dateFormat);
        QFETCH(QString, name);
        TestGlobals t;
        pin(t);
        t.clock->dateFormat = dateFormat;
        QCOMPARE(Globals::instance().LogStream().buildFileName(), m_dir.path() + "/Selmarin/" + name);
    }

    void twoRunsOfOneDayShareTheFile()
    {
        QString path;
        for (int run = 0; run < 2; ++run) {
            TestGlobals t;
            if (run == 0)
                pin(t);
            else
                t.env->variables = {{"PROGRAMFILES", m_dir.path()}, {"COMPUTERNAME", "PC17"}};
            t.clock->at = QDateTime(QDate(2026, 12, 4), QTime(5 + run, 15, 9));
            RunLog &log = Globals::instance().LogStream();
            QVERIFY(log.LogOpen());
            t.clock->at = t.clock->at.addSecs(1);
            QVERIFY(log.LogWrite(QStringLiteral("Winsock:\tConnection completed\r\n")));
            QVERIFY(log.LogWrite(QStringLiteral("no line end")));
            QVERIFY(log.LogWrite(QStringLiteral("You:\tünïcode\r\n")));
            QVERIFY(log.LogClose());
            path = log.fileName();
        }
        const QByteArray expected =
            "Selmarin, running on PC17; started 12/4/2026 5:15:09 AM\r\n"
            "-- 5:15:10 AM\tWinsock:\tConnection completed\r\n"
            "-- 5:15:10 AM\tno line end-- 5:15:10 AM\tYou:\t\xc3\xbc" "n\xc3\xaf" "code\r\n"
            "Selmarin, running on PC17; ended 12/4/2026 5:15:10 AM\r\n\r\n"
            "Selmarin, running on PC17; started 12/4/2026 6:15:09 AM\r\n"
            "-- 6:15:10 AM\tWinsock:\tConnection completed\r\n"
            "-- 6:15:10 AM\tno line end-- 6:15:10 AM\tYou:\t\xc3\xbc" "n\xc3\xaf" "code\r\n"
            "Selmarin, running on PC17; ended 12/4/2026 6:15:10 AM\r\n\r\n";
        QCOMPARE(read(path), expected);
    }

    void missingFolderFailsWithErrorLine()
    {
        TestGlobals t;
        t.env->variables = {{"PROGRAMFILES", m_dir.path() + "/nowhere"}, {"COMPUTERNAME", "PC17"}};
        RunLog &log = Globals::instance().LogStream();
        QVERIFY(!log.LogOpen());
        QVERIFY(!log.isOpen());
        QCOMPARE(t.sink.text(), QStringLiteral("** Error 0x4C:\t in mdlMain.LogOpen; Path not found\r\n"));
        // Records are not written, and not reported, while the log is not open.
        QVERIFY(!log.LogWrite(QStringLiteral("x\r\n")));
        QCOMPARE(t.sink.lines.size(), 1);
    }

    // A log that refuses every write: each report of the failure comes back
    // to the log through the pane, and must not write or report again.
    void failingLogDoesNotReportWithoutEnd()
    {
        if (!QFile::exists("/dev/full"))
            QSKIP("/dev/full is not available");
        TestGlobals t;
        pin(t);
        RunLog &log = Globals::instance().LogStream();
        struct PaneWithLog : MsgSink
        {
            RecordingSink *into = nullptr;
            RunLog *log = nullptr;
            void AddToMsgsBox(const QString &speaker, const QString &sentence) override
            {
                into->AddToMsgsBox(speaker, sentence);
                log->LogWrite(speaker + ":\t" + sentence);
            }
        } pane;
        pane.into = &t.sink;
        pane.log = &log;
        Globals::instance().setMsgSink(&pane);
        QVERIFY(QFile::link("/dev/full", log.buildFileName()));

        QVERIFY(!log.LogOpen());
        QVERIFY(!log.LogWrite(QStringLiteral("later\r\n")));
        QVERIFY2(t.sink.lines.size() <= 2, qPrintable(t.sink.text()));
        QVERIFY(t.sink.lines[0].sentence.startsWith(" in mdlMain.LogOpen; "));
        Globals::instance().setMsgSink(&t.sink);
    }

    void longTimeFormatDropsTheZone_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("en_US") << "en_US";
        QTest::newRow("de_DE") << "de_DE";
        QTest::newRow("C") << "C";
    }
    void longTimeFormatDropsTheZone()
    {
        QFETCH(QString, locale);
        const QString format = LongTimeFormat(QLocale(locale));
        QVERIFY2(!format.contains(u't'), qPrintable(format));
        QVERIFY(format.contains(QStringLiteral("ss")));
    }
};

QTEST_GUILESS_MAIN(TestRunLog)
#include "tst_runlog.moc"
