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

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

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

    explicit MetricsEndpoint(std::function<QString()> page, QObject *parent = nullptr);
    ~MetricsEndpoint() override;
    // Listens on "ADDRESS:PORT" ("[IPv6]:PORT"); false, with why, when it
    // cannot.
    bool listen(const QString &where, QString *why);

    // The page for the library's request handler.
    QByteArray page() const { return m_page().toUtf8(); }
    // For the library's notices of a connection accepted or closed.
    void connectionNews(MHD_Connection *connection, bool started);

private:
    void run();

    struct Held
    {
        MHD_Connection *connection;
        QByteArray from; // the client's address
        bool givingWay;  // shut down, not yet closed by the library
    };

    std::function<QString()> m_page;
    MHD_Daemon *m_daemon = nullptr;
    std::unique_ptr<QSocketNotifier> m_readable;
    std::unique_ptr<QTimer> m_timer;
    std::vector<Held> m_held; // oldest first
};
