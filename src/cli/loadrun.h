// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// LoadRun: `selmarin load`, run without a window: the path's sender
// (session/loadpath.h), a line a second, and at the end a summary of both
// ends (the sender's and the far end's count), or one JSON document.
//
//   second 3: sent 1000 (11.2 Mbit/s); far end: 998 received, 2 lost (0.20%), ...
//   --- 10.0.0.1:7010 load statistics ---
//   sent: 10000 datagrams of 1400 bytes in 10.00 s, 11.2 Mbit/s (1000 a second, ...)
//   far end: 10000 sent, 9990 received, 10 lost (0.10%), ..., goodput 11.2 Mbit/s
//
// JSON: the far end's count of the whole run at the top (sent, received,
// lost, loss_percent, out_of_order, duplicates, jitter_ms, goodput_bps,
// delay_variation_ms; null when no count came), the sender's under
// "sender", the seconds under "seconds", the failures under "errors".
//
// Exit status: 0 when the far end counted every piece sent; 1 when any was
// lost, or no count came (only a `respond`er counts); 2 when the path could
// not be used (a refused address, a socket failure, a connection that ended).

#include "base/msgsink.h"
#include "commandline.h"

#include <QJsonArray>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>

class AddressRules;
class LoadPath;
class MsgSink;
class QTextStream;
class SessionLines;
class TerminalFace;
struct LoadTally;
struct NameTables;

class LoadRun : public QObject
{
    Q_OBJECT
public:
    LoadRun(const Command &command, const NameTables &tables, const AddressRules &rules,
            MsgSink &lines, TerminalFace &face, QTextStream &out);
    ~LoadRun() override;

    // Starts; an exit status when it ended at once, else -1 and finished() later.
    int start();
    // Ctrl+C, SIGTERM: the sending ends now, the far end's count is waited
    // for a moment; a second stop ends at once.
    void stop();

signals:
    void finished(int status);

private:
    // A second's end: what was sent in it waits for the far end's report
    // of the same second (LateMs at most) to make its line.
    void onSecond(bool partial = false);
    void tellSecond(bool withReport);
    void onReport(const LoadTally &tally, bool final);
    void onFinished(bool final);
    void say(const QString &line);
    int status() const;
    QString unit() const;
    QString sendingLine() const;

    Command m_command;
    NamedLines m_lines; // named by the peer, as a probe's target's
    QTextStream &m_out;
    std::unique_ptr<LoadPath> m_path;
    std::unique_ptr<MsgSink> m_kept; // the lines, their complaints kept in m_errors
    std::unique_ptr<SessionLines> m_sessionLines;
    static constexpr int LateMs = 500;
    struct Second
    {
        int number = 0;
        quint64 pieces = 0, bytes = 0;
        double seconds = 1; // the last may be shorter
    };
    QList<Second> m_pending;
    QTimer m_second;
    QTimer m_late;
    int m_seconds = 0;
    qint64 m_startedUs = -1;
    quint64 m_lastPieces = 0;
    quint64 m_lastBytes = 0;
    quint64 m_reports = 0;               // reports that came
    qint64 m_unclaimedUs = -1;           // a report came before its second's end here
    qint64 m_lastSecondUs = 0;           // the last second's end
    std::unique_ptr<LoadTally> m_latest; // the far end's last report
    std::unique_ptr<LoadTally> m_final;  // and its final count
    bool m_failed = false;
    bool m_silenceTold = false;
    qint64 m_firstAckedUs = -1; // the first piece sent (a stream's: acknowledged)
    bool m_reportOwed = false;  // a stream's piece acknowledged a second after it
    QStringList m_errors;
    QJsonArray m_secondsJson;
};
