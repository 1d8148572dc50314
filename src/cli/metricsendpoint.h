// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The metrics endpoint (--metrics ADDRESS:PORT): an HTTP server on exactly
// the address and port given, whose page /metrics is made anew at every
// request (metricspage.h).
//
// Anyone who can reach the port can talk to it, so it is an HTTP server
// made for that (libmicrohttpd), run on the program's own event loop (no
// thread: the page reads the figures where they are kept), with every
// resource bounded:
//   - a request line and its headers fit in RequestBytes, or the request is
//     refused: a huge header cannot take memory or time from the probe;
//   - a connection that says nothing for IdleSeconds is closed (a slow or
//     half-sent request holds nothing for long);
//   - at most MaxConnections at once, MaxPerAddress from one address: a
//     flood of idle connections cannot take the descriptors the probe
//     needs.  A new connection that makes one too many (from its address,
//     or in all) takes the place of the oldest one (from there, or of all):
//     slow clients that trickle a header line a second, never idle, cannot
//     keep a new scraper out, from their addresses or any other;
//   - GET and HEAD only (405 otherwise); every answer ends its connection
//     ("Connection: close"), HTTP/1.1 or not;
//   - nothing of the library's is written to the terminal.
//
// A web configuration (webconfig.h) locks it: TLS 1.2 and 1.3 only, AEAD
// suites only, with forward secrecy; a client certificate checked against
// the client CA when asked for (403 without a good one); and a password
// (401 with "WWW-Authenticate" without the right one).  A bcrypt check takes
// milliseconds, so it is done on a thread of its own while the connection
// waits (suspended), never on the event loop, and its verdict is kept (by
// a hash of the credentials) so that a scraper pays it once, not at every
// scrape.  A flood of wrong passwords gets at most ChecksPerSecond checks
// (one at a time, a token bucket); beyond that 503 with "Retry-After"
// without a check.  The certificate's end is told by notice() at the start
// and once a day while it is due (tls/certexpiry.h).

#include "webconfig.h"

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <vector>

class CertExpiryWatch;
class QSocketNotifier;
class QTimer;
struct MHD_Connection;
struct MHD_Daemon;

// ADDRESS:PORT ("[IPv6]:PORT", "localhost:PORT"): the address, or a null one.
QHostAddress MetricsAddress(const QString &where, quint16 *port);
bool IsMetricsAddress(const QString &where);

class MetricsEndpoint : public QObject
{
    Q_OBJECT
public:
    static constexpr unsigned RequestBytes = 8 * 1024;
    static constexpr unsigned IdleSeconds = 5;
    static constexpr unsigned MaxConnections = 32;
    static constexpr unsigned MaxPerAddress = 8;
    static constexpr int ChecksPerSecond = 4;    // bcrypt checks of unknown credentials
    static constexpr int KnownCredentials = 256; // matching ones kept, at most

    // now: the time the certificate's end is measured from.
    explicit MetricsEndpoint(
        std::function<QString()> page,
        std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); },
        QObject *parent = nullptr);
    ~MetricsEndpoint() override;
    // Listens on "ADDRESS:PORT" ("[IPv6]:PORT"), locked as web says (by
    // default: plain HTTP, open to all); false, with why, when it cannot.
    bool listen(const QString &where, QString *why, WebConfig web = {});

    // The page for the library's request handler.
    QByteArray page() const;
    // For the library's notices of a connection accepted or closed.
    void connectionNews(MHD_Connection *connection, bool started);

    // Whether a request on the connection may have the page.
    enum class Admission { In, NoCertificate, NoPassword, Waiting, Busy };
    Admission admits(MHD_Connection *connection);

signals:
    // A line for the user: the certificate expires soon, or has.
    void notice(const QString &line);

private:
    void run();
    bool certificateRefused(MHD_Connection *connection) const;
    void checked(MHD_Connection *connection, const QByteArray &key, bool matches);

    struct Held
    {
        MHD_Connection *connection;
        QByteArray from; // the client's address
        bool givingWay;  // shut down, not yet closed by the library
    };

    std::function<QString()> m_page;
    WebConfig m_web;
    std::function<QDateTime()> m_now;
    QThreadPool m_checker;                    // one thread: the bcrypt checks
    QSet<QByteArray> m_known;                 // hashes of credentials that matched
    QSet<MHD_Connection *> m_suspended;       // waiting for their check
    QHash<MHD_Connection *, bool> m_verdicts; // of a suspended connection, once checked
    double m_tokens = ChecksPerSecond;
    qint64 m_tokensUs = 0; // when m_tokens was filled up
    std::unique_ptr<CertExpiryWatch> m_expiry;
    MHD_Daemon *m_daemon = nullptr;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QTimer> m_timer;
    std::vector<Held> m_held; // oldest first
};
