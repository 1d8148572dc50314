// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The cost of writing every log record to the file at once.  Writes the same
// N records three ways into files under a temporary folder:
//   runlog      RunLog::LogWrite, as the program does (time stamp, UTF-8,
//               one unbuffered write per record)
//   unbuffered  the finished record bytes, one write() per record
//   buffered    the same bytes through QFile's buffer, written at the end
// and prints "runlog_us=.. unbuffered_us=.. buffered_us=.." per record.

#include "base/clock.h"
#include "base/environment.h"
#include "base/msgsink.h"
#include "runlog/runlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

class BenchEnvironment final : public Environment
{
public:
    explicit BenchEnvironment(QString folder) : m_folder(std::move(folder)) {}
    std::optional<QString> variable(const QString &name) const override
    {
        if (name == QLatin1String("PROGRAMFILES"))
            return m_folder;
        if (name == QLatin1String("COMPUTERNAME"))
            return QStringLiteral("BENCH");
        return std::nullopt;
    }
    QString hostName() const override { return QStringLiteral("bench"); }
    QString localDomain() const override { return QString(); }
    QString dataHome() const override { return m_folder; }

private:
    QString m_folder;
};

class Stderr final : public MsgSink
{
public:
    void addLine(LineKind, const QString &speaker, const QString &sentence) override
    {
        std::fprintf(stderr, "%s:\t%s", qPrintable(speaker), qPrintable(sentence));
    }
    void ClearMsgsBox() override {}
};

double perRecordUs(qint64 ns, int records)
{
    return double(ns) / 1000.0 / records;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int records = argc > 1 ? atoi(argv[1]) : 200000;
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("Selmarin"));
    const QString line
        = QStringLiteral("127.0.0.1:\t") + QString(51, u'x') + QStringLiteral("\r\n");

    BenchEnvironment env(dir.path());
    SystemClock clock;
    RunLog log(env, clock);
    Stderr report;
    if (!log.LogOpen(report))
        return 1;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < records; ++i)
        log.LogWrite(line);
    const qint64 runlogNs = timer.nsecsElapsed();
    log.LogClose(report);

    const QByteArray record
        = (QStringLiteral("-- ") + clock.longTime(QTime::currentTime()) + u'\t' + line).toUtf8();
    auto writeAll = [&](QIODevice::OpenMode extra) {
        QFile file(dir.filePath(QStringLiteral("raw.log")));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate | extra);
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < records; ++i)
            file.write(record);
        file.close();
        return t.nsecsElapsed();
    };
    const qint64 unbufferedNs = writeAll(QIODevice::Unbuffered);
    const qint64 bufferedNs = writeAll({});
    std::printf("runlog_us=%.3f unbuffered_us=%.3f buffered_us=%.3f\n",
                perRecordUs(runlogNs, records), perRecordUs(unbufferedNs, records),
                perRecordUs(bufferedNs, records));
    return 0;
}
