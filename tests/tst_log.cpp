// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later
//
// The day's log file: what each run adds, that a crash loses nothing that was
// written, and that a log that stops taking writes does not flood the pane.

#include "fixture.h"

#include <csignal>
#include <sys/resource.h>

namespace {
const QString Started = "Selmarin, running on PC17; started 12/4/2026 5:15:09 AM\r\n";
const QString Ended = "Selmarin, running on PC17; ended 12/4/2026 5:15:09 AM\r\n\r\n";
const QString Record = "-- 5:15:09 AM\t";
const QString NoHost = "++ PEBKAC:\tYou must select a remote server\r\n";
const QString NoPort = "++ PEBKAC:\tRemote port must be a number between 1 and 65535\r\n";
} // namespace

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    // Two runs of one day append to one file: each its first line, a record
    // per pane line (here one naming a folder with non-ASCII letters, as
    // UTF-8), and its last line when the window closes.
    void runsOfOneDayShareTheFile()
    {
        QTemporaryDir dir;
        const QString programFiles = dir.filePath(QStringLiteral("Pr\u00f6gramme \u20ac"));
        QString run;
        for (int n = 0; n < 2; ++n) {
            Program program({.programFiles = programFiles});
            QVERIFY(program.start());
            program.window()->close();
            run = Started + Record + "** Error 0x666:\t in mdlMain.LoadServers; " + program.folder()
                  + "Servers.xml does not exist.\r\n" + Ended;
            QCOMPARE(readFile(program.logPath()), (n ? run + run : run).toUtf8());
        }
    }

    // Past midnight the run goes on in the new day's file (as a run without
    // a window does): the old file ends, the new one starts, and its records
    // carry the new time.
    void midnightMovesToTheNewDaysFile()
    {
        Program program;
        QVERIFY(program.start());
        const QString before = program.logPath();
        program.setTime(QDateTime(QDate(2026, 12, 5), QTime(0, 0, 1)));
        program.click("cmdConnect");
        QVERIFY(readFile(before).endsWith("; ended 12/5/2026 12:00:01 AM\r\n\r\n"));
        QVERIFY(program.logPath() != before);
        QVERIFY(program.log().startsWith(
            "Selmarin, running on PC17; started 12/5/2026 12:00:01 AM\r\n-- 12:00:01 AM\t"
            + NoHost));
    }

    // A copy writes two pane lines per click and dies without closing
    // anything: the file holds every record, whole.
    void crashLosesNothingWritten()
    {
        QTemporaryDir dir;
        constexpr int Clicks = 300;
        QProcess copy;
        copy.start(SELMARIN_COPY, QStringList{dir.path(), "adapters=192.0.2.10|255.255.255.0"}
                                      + QStringList(Clicks, "click=cmdConnect")
                                      + QStringList{"kill"});
        QVERIFY(copy.waitForFinished(30000));
        QCOMPARE(copy.exitStatus(), QProcess::CrashExit);
        QString expected = Started + Record + "** Error 0x666:\t in mdlMain.LoadServers; "
                           + dir.path() + "/Selmarin/Servers.xml does not exist.\r\n";
        for (int n = 0; n < Clicks; ++n)
            expected += Record + NoHost + Record + NoPort;
        QCOMPARE(QString::fromUtf8(readFile(dir.path() + "/Selmarin/PC17_12-4-2026.log")),
                 expected);
    }

    // The disk takes no more (the file size limit): every pane line is still
    // shown, each followed by one report of the failed write, and the
    // reports are not written again.
    void fullDiskReportsEachLineOnce()
    {
        Program program;
        QVERIFY(program.start());
        program.clearPane();
        const auto before = QFileInfo(program.logPath()).size();
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit full{rlim_t(before), limit.rlim_max};
        setrlimit(RLIMIT_FSIZE, &full);
        program.click("cmdConnect");
        setrlimit(RLIMIT_FSIZE, &limit);
        const QString failed = "** Error 0x3D:\t in mdlMain.LogWrite; Disk full\r\n";
        QCOMPARE(program.pane(), NoHost + failed + NoPort + failed);
        QCOMPARE(QFileInfo(program.logPath()).size(), before);
    }
};

QTEST_MAIN(TestLog)
#include "tst_log.moc"
