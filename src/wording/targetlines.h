// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The lines of one probe target, to the run's transcript (the terminal and
// the log): its session's lines (sessionlines.h), a line per query as ping
// writes them, and its own failures.  A target that stays down and fails
// the same way at every try says so once (its figures count every try).  Every complaint among them
// is kept as one of its errors (the JSON summary's), the first MaxErrors of them.  The command
// line names the target on each of its lines (NamedLines, base/msgsink.h) in lines, so that a
// socket's lines say which target they are about.
//
//   answer from 10.0.0.7:7010: seq=3 time=0.315 ms
//   answer from 10.0.0.7:862: seq=3 time=0.315 ms path=0.290 ms ttl=255/64
//                                                (a reflector's: stamplines.h)
//   no answer from 10.0.0.7:7010: seq=4          (its timeout passed)
//   late answer from 10.0.0.7:7010: seq=4 time=2512.004 ms
//   stray answer from 10.0.0.7:7010: seq=4 (no query waiting)
//   no connection to 10.0.0.7:443: seq=5 (refused: Connection is forcefully rejected.)
//   AutoPing Error:  not sent to 10.0.0.7:7010: seq=6 (refused)   (once per reason)
//   AutoPing:        10.0.0.7:7010 can be probed again after 12 failed attempts
//   AutoPing Error:  a datagram from 192.0.2.9:7010 ignored: only 10.0.0.7:7010 answers
//                    (said once; the figures count them all)
//   AutoPing Error:  an answer from 10.0.0.7:7010 without this run's token
//                    ignored as foreign (said once; ...)
//   AutoPing:        10.0.0.7:7010 answers without this run's token (a window,
//                    or an older responder): its answers cannot be told from
//                    forged ones                  (once)

#include "base/msgsink.h"
#include "probe/probeengine.h"
#include "sessionlines.h"

#include <QObject>
#include <QStringList>

class ProbeTarget;
struct NameTables;

// A minute's figures of one target, counted from its engine's events.
struct QueryMinute
{
    quint64 answered = 0, late = 0, lost = 0, notSent = 0, stray = 0;
    qint64 rttMinUs = 0, rttMaxUs = 0, rttSumUs = 0;
    void count(const ProbeEngine::Event &event);
    bool empty() const { return answered + late + lost + stray == 0; }
};

class TargetLines : public QObject, private MsgSink
{
    Q_OBJECT
public:
    static constexpr int MaxErrors = 20;

    TargetLines(const ProbeTarget &target, const NameTables &tables, MsgSink &lines,
                QObject *parent = nullptr);

    const QStringList &errors() const { return m_errors; }

    // Off: the queries, their answers and the bytes are not a line each but
    // a line a minute with the minute's figures (tellMinute): a run of many
    // targets that lasts for weeks keeps every failure and change, in a log
    // of a reasonable size.  On unless set.
    void setEveryQuery(bool every);
    // The figures of the minute since the last call, one line, when there
    // were any.
    void tellMinute();

private:
    void addLine(LineKind kind, const QString &speaker, const QString &sentence) override;
    void ClearMsgsBox() override;
    void tell(const ProbeEngine::Events &events);
    void keepError(const QString &error);

    // What a complaint told: a socket's failure by its number (its line is
    // the number's), anything else by its words.
    struct Told
    {
        int failure = 0;
        QString words;
        bool operator==(const Told &) const = default;
    };

    const ProbeTarget &m_target;
    MsgSink &m_lines;
    int m_failing = 0; // the socket's failure whose line comes next (0: none)
    // Connected before the session's lines are, so that it runs first.
    QMetaObject::Connection m_failureWatch;
    SessionLines m_sessionLines;
    QStringList m_errors;
    int m_moreErrors = 0;
    Told m_lastComplaint; // said once while the target stays down
    // A connection's failure (its reason and what tells it), kept once
    // while it stays the same.
    std::pair<QString, QString> m_lastRefusal;
    bool m_everyQuery = true;
    QueryMinute m_minute;
};
