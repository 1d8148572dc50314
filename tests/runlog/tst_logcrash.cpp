// A crash loses no record that was written: a child process writes records
// and then dies without closing the log; the file holds all of them.
#include "runlog/runlog.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class TestLogCrash : public QObject
{
    Q_OBJECT

private slots:
    void recordsSurviveACrash_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<bool>("lastWithoutLineEnd");
        QTest::newRow("one") << 1 << false;
        QTest::newRow("many") << 5000 << false;
        QTest::newRow("last line unfinished") << 10 << true;
    }
    void recordsSurviveACrash()
    {
        QFETCH(int, records);
        QFETCH(bool, lastWithoutLineEnd);
        QTemporaryDir dir;
        QDir().mkpath(dir.path() + "/Selmarin");
        TestGlobals globals;
        globals.env->variables = {{"PROGRAMFILES", dir.path()}, {"COMPUTERNAME", "PC17"}};
        RunLog log(*globals.env, *globals.clock);
        const auto text = [&](int n) {
            return "127.0.0.1:\trecord " + QString::number(n)
                   + (lastWithoutLineEnd && n == records - 1 ? QString() : QStringLiteral("\r\n"));
        };

        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            bool ok = log.LogOpen();
            for (int n = 0; n < records; ++n)
                ok = log.LogWrite(text(n)) && ok;
            if (!ok)
                _exit(1);
            std::raise(SIGKILL); // no destructor, no close, no flush
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

        QFile file(log.buildFileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray expected = "Selmarin, running on PC17; started 12/4/2026 5:15:09 AM\r\n";
        for (int n = 0; n < records; ++n)
            expected += ("-- 5:15:09 AM\t" + text(n)).toUtf8();
        QCOMPARE(file.readAll(), expected);
    }
};

QTEST_GUILESS_MAIN(TestLogCrash)
#include "tst_logcrash.moc"
