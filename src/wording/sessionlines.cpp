// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sessionlines.h"

#include "base/hostport.h"
#include "base/msgsink.h"
#include "base/nametables.h"
#include "session/session.h"
#include "tls/credentials.h"
#include "tls/tlsfacts.h"

#include <QStringBuilder>

namespace {

const QString WinsockSpeaker = QStringLiteral("Winsock");
const QString WinsockError = QStringLiteral("Winsock Error");

// The socket's error report: number, description and scode on lines of their own.
QString ErrorReport(qint32 number, const QString &description, qint64 scode)
{
    return QString::number(number) + CRLF + QStringLiteral("* Description:\t") + description + CRLF
           + QStringLiteral("* Scode:\t0x") + Hex(scode) + CRLF;
}

QString HostAndPort(const Endpoint &end)
{
    return ::HostAndPort(end.address, end.port);
}

QString acceptedLine(const QString &protocol, const Endpoint &from, const Endpoint &to)
{
    return QStringLiteral("Accepting ") + protocol + QStringLiteral(" connection from ")
           + HostAndPort(from) + QStringLiteral(" to ") + HostAndPort(to) + CRLF;
}

QString acceptFailedLine(const QString &protocol, const Endpoint &from, const Endpoint &to,
                         const RuntimeError &e)
{
    return QStringLiteral("Connection acceptance on ") + protocol + QStringLiteral(" from ")
           + HostAndPort(from) + QStringLiteral(" to ") + HostAndPort(to)
           + QStringLiteral("Failed; Error 0x") + Hex(e.number) + CRLF;
}

// A datagram's refusal (ICMP port unreachable), in the socket's error report.
QString refusedReport(const Endpoint &peer)
{
    return ErrorReport(10054,
                       QStringLiteral("The datagrams to %1 find no one listening there (port "
                                      "unreachable): no answer will come.")
                           .arg(HostAndPort(peer)),
                       0x800A2746);
}

// "Connected to 192.0.2.7:7", "Resolving Host example.net" ...
QString stateLine(const NameTables &tables, const StateSeen &seen)
{
    QString line = tables.States.name(StateCode(seen.state));
    switch (seen.state) {
    case SocketState::Connected:
        line += QStringLiteral(" to ") + ::HostAndPort(seen.remoteAddress, seen.remotePort);
        break;
    case SocketState::Connecting:
    case SocketState::ConnectionPending:
        line += QStringLiteral(" to ") + ::HostAndPort(seen.remoteHost, seen.remotePort);
        break;
    case SocketState::ResolvingHost: line += u' ' + seen.asked; break;
    case SocketState::HostResolved:
        line += u' ' + seen.asked + QStringLiteral(" as ") + seen.remoteAddress;
        break;
    default: break;
    }
    return line + CRLF;
}

// The handshake, the peer's certificate and what its verification found.
void tellTls(MsgSink &lines, const TlsFacts &facts, const QString &verifiedName, bool client)
{
    const QString tls = QStringLiteral("TLS");
    if (facts.established)
        lines.AddToMsgsBox(tls, QStringLiteral("Handshake done: ") + facts.version
                                    + QStringLiteral(", cipher ") + facts.cipher + CRLF);
    if (!facts.peer.isNull())
        for (const QString &line : DescribeCertificate(facts.peer))
            lines.AddToMsgsBox(tls, line + CRLF);
    for (const QString &problem : facts.problems)
        lines.AddComplaint(tls, QStringLiteral("Certificate not verified: ") + problem + CRLF);
    if (facts.established && client)
        lines.AddToMsgsBox(
            tls, (facts.problemsAccepted
                      ? QStringLiteral("Going on without verification, as chosen (insecure)")
                      : QStringLiteral("Certificate verified: trusted issuer, valid dates, name ")
                            + verifiedName)
                     + CRLF);
    if (!facts.failure.isEmpty() && !facts.problems.contains(facts.failure))
        lines.AddComplaint(tls, QStringLiteral("Failed: ") + facts.failure + CRLF);
}

QString droppedLine(qint32 count)
{
    return (count == 1 ? QStringLiteral("1 datagram arrived but Selmarin dropped it: it could not "
                                        "log it fast enough (the network did not lose it)")
                       : QString::number(count)
                             + QStringLiteral(" datagrams arrived but Selmarin dropped them: it "
                                              "could not log them fast enough (the network did "
                                              "not lose them)"))
           + CRLF;
}

QString truncatedLine(quint64 count, qint32 kept)
{
    return QStringLiteral("%1 longer than %2 bytes arrived: only the first %2 bytes of each were "
                          "read (the socket stays open)")
               .arg(count == 1 ? QStringLiteral("1 datagram")
                               : QStringLiteral("%1 datagrams").arg(count))
               .arg(kept)
           + CRLF;
}

QString notTakenLine(quint64 count, bool program)
{
    return QStringLiteral("%1 closed at once: %2 has no file descriptor left (too many open files)")
               .arg(count == 1 ? QStringLiteral("A connection was")
                               : QStringLiteral("%1 connections were").arg(count),
                    program ? QStringLiteral("Selmarin") : QStringLiteral("the system"))
           + CRLF;
}

} // namespace

QString ProcedurePiece(Procedure procedure)
{
    static const char *const names[] = {"CheckPort",
                                        "Send",
                                        "Timer1_Timer",
                                        "Winsock1_TlsReport",
                                        "Winsock1_Close",
                                        "Winsock1_Connect",
                                        "Winsock1_Error",
                                        "Winsock1_SendComplete",
                                        "Winsock1_SendProgress",
                                        "Winsock1_DatagramRefused",
                                        "Winsock1_DatagramsDropped"};
    static_assert(std::size(names) == size_t(Procedure::DatagramsDropped) + 1);
    return QStringLiteral(" in frmMain.%1; ").arg(QLatin1String(names[int(procedure)]));
}

QStringList TlsUsedLines(const TlsUsed &used)
{
    QStringList lines;
    if (!used.madeCertFile.isEmpty())
        lines << QStringLiteral("Made a self-signed certificate for this machine, valid for one "
                                "year: ")
                     + used.madeCertFile + QStringLiteral(" (its key, readable by its owner only: ")
                     + used.madeKeyFile + u')';
    if (!used.ownCertFile.isEmpty())
        lines << QStringLiteral("Own certificate ") + used.ownCertFile + QStringLiteral(": ")
                     + CertificateNames(used.own, false)
              << QStringLiteral("Own certificate SHA-256 fingerprint: ")
                     + CertificateFingerprint(used.own);
    if (!used.caFile.isEmpty())
        lines << QStringLiteral("Trusting the certificates in ") + used.caFile
                     + QStringLiteral(" instead of the system's");
    if (used.insecure)
        lines << QStringLiteral("Insecure: a certificate that does not verify is accepted for "
                                "this connection");
    return lines;
}

QString RefusalText(const Refusal &refusal)
{
    const QString range = QStringLiteral("port must be a number between 1 and 65535");
    switch (refusal.kind) {
    case Refusal::Kind::NoLocalAddress:
        return QStringLiteral("A server needs a local address: "
                              "choose one of this machine's addresses");
    case Refusal::Kind::LocalPort: return QStringLiteral("Local ") + range;
    case Refusal::Kind::RemoteAddress: return refusal.why;
    case Refusal::Kind::RemotePort: return QStringLiteral("Remote ") + range;
    case Refusal::Kind::NotConnected:
        return QStringLiteral("You must establish a connection first.");
    case Refusal::Kind::BadEscape:
        return QStringLiteral("Nothing sent: at ")
               + (refusal.line > 0 ? QStringLiteral("line %1, character %2")
                                         .arg(refusal.line)
                                         .arg(refusal.character)
                                   : QStringLiteral("character %1").arg(refusal.character))
               + QStringLiteral(", ") + refusal.why;
    }
    return refusal.why;
}

void SessionLines::tellAccepted(const Endpoint &from, const Endpoint &to)
{
    m_lines.AddToMsgsBox(WinsockSpeaker, acceptedLine(protocol(), from, to));
}

void SessionLines::tellData(const DataSeen &seen)
{
    if (m_dataShown)
        m_lines.addLine(LineKind::Data, seen.peer.address,
                        seen.lineEnded ? seen.text : QString(seen.text % CRLF));
}

QString SessionLines::protocol() const
{
    return m_tables.Protocol.name(int(m_session.config().transport));
}

SessionLines::SessionLines(const Session &session, const NameTables &tables, MsgSink &lines,
                           QObject *parent)
    : QObject(parent), m_session(session), m_tables(tables), m_lines(lines)
{
    connect(&session, &Session::paneCleared, this, [this] { m_lines.ClearMsgsBox(); });
    connect(&session, &Session::stateSeen, this, [this](const StateSeen &seen) {
        m_lines.AddToMsgsBox(WinsockSpeaker, stateLine(m_tables, seen));
    });
    connect(&session, &Session::connectionCompleted, this, [this] {
        m_lines.AddToMsgsBox(WinsockSpeaker, QStringLiteral("Connection completed") + CRLF);
    });
    connect(&session, &Session::dataArrived, this, &SessionLines::tellData);
    connect(&session, &Session::dataSent, this, &SessionLines::tellData);
    connect(&session, &Session::accepted, this, &SessionLines::tellAccepted);
    connect(&session, &Session::acceptFailed, this,
            [this](const Endpoint &from, const Endpoint &to, const RuntimeError &e) {
                m_lines.AddComplaint(WinsockSpeaker, acceptFailedLine(protocol(), from, to, e));
            });
    connect(&session, &Session::socketFailed, this, [this](const SocketFailure &failure) {
        m_lines.AddComplaint(WinsockError,
                             ErrorReport(failure.number, failure.description, failure.scode));
    });
    connect(&session, &Session::failed, this, [this](Procedure piece, const RuntimeError &e) {
        ReportError(m_lines, ProcedurePiece(piece), e);
    });
    connect(&session, &Session::openFailed, this, [this](SocketState state, const RuntimeError &e) {
        QString stateName;
        TryRun([&] { stateName = m_tables.States.name(StateCode(state)); },
               [](const RuntimeError &) {});
        m_lines.AddComplaint(ErrorSpeaker(e.number), QStringLiteral("Winsock.") + stateName
                                                         + QStringLiteral(" in frmMain.OpenIt; ")
                                                         + e.description + CRLF);
    });
    connect(&session, &Session::readFailed, this, [this](const RuntimeError &e) {
        m_lines.AddComplaint(QStringLiteral("** Error"),
                             QStringLiteral("0x") + Hex(e.number)
                                 + QStringLiteral(" in frmMain.Winsock1_DataArrival; ")
                                 + e.description + CRLF + CRLF);
    });
    connect(&session, &Session::refused, this, [this](const Refusal &refusal) {
        m_lines.AddComplaint(QStringLiteral("++ PEBKAC"), RefusalText(refusal) + CRLF);
    });
    connect(&session, &Session::tlsSetUp, this, [this](const TlsUsed &used) {
        for (const QString &line : TlsUsedLines(used))
            m_lines.AddToMsgsBox(QStringLiteral("TLS"), line + CRLF);
    });
    connect(&session, &Session::tlsReported, this,
            [this](const TlsFacts &facts, const QString &verifiedName) {
                tellTls(m_lines, facts, verifiedName,
                        m_session.config().role == Session::Role::Client);
            });
    connect(&session, &Session::datagramsDropped, this,
            [this](qint32 count) { m_lines.AddToMsgsBox(WinsockSpeaker, droppedLine(count)); });
    connect(&session, &Session::datagramsTruncated, this, [this](quint64 count, qint32 kept) {
        m_lines.AddToMsgsBox(WinsockSpeaker, truncatedLine(count, kept));
    });
    connect(&session, &Session::connectionsNotTaken, this, [this](quint64 count, bool program) {
        m_lines.AddComplaint(WinsockSpeaker, notTakenLine(count, program));
    });
    connect(&session, &Session::datagramRefused, this, [this](const Endpoint &peer) {
        m_lines.AddComplaint(WinsockError, refusedReport(peer));
    });
}
