// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// ProbeTarget: one HOST PORT of a probe run.  It opens a Session of its own
// towards the target (or, with --connect, makes a connection per query),
// runs a Prober on it and ends on its own: when its count is reached, at its
// deadline, when its connection failed or the peer ended it (unless
// --keep-going makes it again once per interval), or at stop().  A run
// probes all its targets at once, on one event loop.
//
// Its lines go to the run's transcript; the failures among them are kept
// as its errors, and in a run of several targets they name the target
// ("Winsock Error:\t10.0.0.7:7010: 10061 ..."), since the socket's own lines
// do not.
//
// Status: 0 every query answered; 1 some not (or none sent); 2 it could not
// be probed (refused, not opened, failed, ended by the peer).

#include "commandline.h"
#include "prober.h"

#include "base/msgsink.h"
#include "session/session.h"

#include <QObject>
#include <QSslConfiguration>
#include <QStringList>
#include <QTimer>

#include <memory>

class AddressRules;
class QTextStream;
struct NameTables;

// The session's transport as the command line chose it, framed, with its
// TLS choices; the ends are left to fill.
Session::Config TransportConfig(const Command &command);

class ProbeTarget : public QObject, private MsgSink
{
    Q_OBJECT
public:
    // base: the transport and its TLS choices (TransportConfig).
    ProbeTarget(const Command &command, const Session::Config &base, const QString &host,
                const QString &port, const NameTables &tables, const AddressRules &rules,
                MsgSink &lines, QTextStream &out, bool named);
    ~ProbeTarget() override;

    // Starts probing; false when it ended at once (refused, not opened).
    bool start();
    // Ends it now: what still waits is lost.
    void stop();
    bool isDone() const { return m_done; }
    int status() const;
    // HOST:PORT as given: the target's name in summaries and metrics.
    QString name() const;
    const PingStats &stats() const { return m_prober.stats(); }
    const QStringList &errors() const { return m_errors; }

signals:
    void done();

private:
    void addLine(LineKind kind, const QString &speaker, const QString &sentence) override;
    void ClearMsgsBox() override;
    void onStateShown();
    void connectionEnded();
    void end(bool failed);
    void open();
    Prober::Sent sendQuery(int seq, bool numbered);
    void startConnects();
    Prober::Sent connectOnce(int seq);

    const Command &m_command;
    Session::Config m_config;
    QString m_host;
    QString m_port;
    MsgSink &m_lines;
    bool m_named;
    static constexpr int MaxErrors = 20;
    QStringList m_errors;
    int m_moreErrors = 0;
    std::unique_ptr<Session> m_session;
    Prober m_prober;
    QTimer m_reopen;              // --keep-going: the next try to connect again
    QString m_target;             // --connect: the host's address
    QSslConfiguration m_tlsSetup; // --connect --tls: its trust
    bool m_failed = false;
    bool m_done = false;
};
