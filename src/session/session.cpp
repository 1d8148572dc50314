// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "session.h"

#include "base/conversions.h"
#include "base/failure.h"
#include "base/nametables.h"
#include "netenv/addressrules.h"
#include "socket/localaddress.h"

namespace {

const QString Pebkac = QStringLiteral("++ PEBKAC");
const QString PortRange = QStringLiteral("port must be a number between 1 and 65535");

} // namespace

StateGroup GroupOf(const QString &stateName)
{
    if (stateName == QLatin1String("Closed") || stateName == QLatin1String("Error"))
        return StateGroup::Idle;
    if (stateName == QLatin1String("Open") || stateName == QLatin1String("Connected"))
        return StateGroup::Ready;
    return StateGroup::Busy;
}

Session::Session(const NameTables &tables, const AddressRules &rules, MsgSink &lines,
                 QObject *parent)
    : QObject(parent), m_tables(tables), m_rules(rules), m_lines(lines)
{
    connect(&Winsock1, &Winsock::CloseEvent, this, &Session::Winsock1_Close);
    connect(&Winsock1, &Winsock::ConnectEvent, this, &Session::Winsock1_Connect);
    connect(&Winsock1, &Winsock::ConnectionRequest, this, &Session::Winsock1_ConnectionRequest);
    connect(&Winsock1, &Winsock::DataArrival, this, &Session::Winsock1_DataArrival);
    connect(&Winsock1, &Winsock::Error, this, &Session::Winsock1_Error);
    connect(&Winsock1, &Winsock::SendComplete, this, &Session::Winsock1_SendComplete);
    connect(&Winsock1, &Winsock::SendProgress, this, &Session::Winsock1_SendProgress);
    connect(&Winsock1, &Winsock::DatagramsDropped, this, &Session::Winsock1_DatagramsDropped);

    connect(&Winsock1, &Winsock::stateTouched, this, &Session::armStateWatch);
    Timer1.setSingleShot(true);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &Session::Timer1_Timer);
}

Session::~Session()
{
    finish();
}

QString Session::stateName() const
{
    return m_tables.States.name(Winsock1.State());
}

QString Session::peer() const
{
    // A UDP client that has heard nothing yet knows its peer only by name.
    const QString address = Winsock1.RemoteHostIP();
    return HostAndPort(address.isEmpty() ? Winsock1.RemoteHost() : address, Winsock1.RemotePort());
}

QString Session::remoteHostShown() const
{
    const QString address = Winsock1.RemoteHostIP();
    if (address.isEmpty() && !UseTCP && !ServerMode)
        return Winsock1.RemoteHost();
    return address;
}

QString Session::label(const QString &speaker) const
{
    if (speaker == QLatin1String("You"))
        return Winsock1.LocalIP();
    if (speaker == QLatin1String("Remote"))
        return Winsock1.RemoteHostIP();
    return speaker;
}

bool Session::closeIfOpen()
{
    AutoPingProbe.stop();
    const bool open = Winsock1.State() != Winsock::sckClosed;
    Winsock1.Close();
    return open;
}

bool Session::CheckEnds(const Ends &ends)
{
    // Every check runs and writes its own line; any fault refuses the open.
    bool refused = false;
    if (ServerMode) {
        if (ends.localAddress.isEmpty()) {
            m_lines.AddToMsgsBox(Pebkac, QStringLiteral("A server needs a local address: "
                                                        "choose one of this machine's addresses")
                                             + CRLF);
            refused = true;
        }
        if (!CheckPort(ends.localPort)) {
            m_lines.AddToMsgsBox(Pebkac, QStringLiteral("Local ") + PortRange + CRLF);
            refused = true;
        }
    } else {
        QString reason;
        if (!m_rules.CheckAddress(ends.remoteAddress, reason)) {
            m_lines.AddToMsgsBox(Pebkac, reason + CRLF);
            refused = true;
        }
        if (!CheckPort(ends.remotePort)) {
            m_lines.AddToMsgsBox(Pebkac, QStringLiteral("Remote ") + PortRange + CRLF);
            refused = true;
        }
    }
    return !refused;
}

bool Session::CheckPort(const QString &port)
{
    bool result = false;
    Guard(m_lines, QStringLiteral(" in frmMain.CheckPort; "), [&] {
        if (port.isEmpty())
            return;
        const qint32 number = ToLong(port);
        result = number >= 1 && number <= 65535;
    });
    return result;
}

void Session::OpenIt(const Ends &ends)
{
    TryRun(
        [&] {
            Winsock1.Close();
            Winsock1.setLocalPort(ToLong(ends.localPort));
            m_remoteText = ends.remoteAddress;
            if (UseTCP) {
                Winsock1.setProtocol(Winsock::sckTCPProtocol);
                if (ServerMode) {
                    Winsock1.Bind(ToLong(ends.localPort), ends.localAddress);
                    Winsock1.Listen();
                } else {
                    Winsock1.setRemoteHost(ends.remoteAddress);
                    Winsock1.setRemotePort(ToLong(ends.remotePort));
                    Winsock1.Connect();
                }
                m_lines.AddToMsgsBox(QStringLiteral("cls"), QString());
            } else {
                Winsock1.setProtocol(Winsock::sckUDPProtocol);
                if (ServerMode) {
                    Winsock1.Bind(ToLong(ends.localPort), ends.localAddress);
                } else {
                    Winsock1.setRemoteHost(ends.remoteAddress);
                    Winsock1.setRemotePort(ToLong(ends.remotePort));
                    Winsock1.Bind(ToLong(ends.localPort), ends.localAddress);
                    m_lines.AddToMsgsBox(QStringLiteral("cls"), QString());
                }
            }
        },
        [&](const RuntimeError &e) {
            // The report names the socket's state at the moment of the failure.
            QString state;
            TryRun([&] { state = stateName(); }, [](const RuntimeError &) {});
            m_lines.AddToMsgsBox(ErrorSpeaker(e.number),
                                 QStringLiteral("Winsock.") + state
                                     + QStringLiteral(" in frmMain.OpenIt; ") + e.description
                                     + CRLF);
        });
}

bool Session::Send(const QString &text)
{
    bool result = false;
    Guard(m_lines, QStringLiteral(" in frmMain.Send; "), [&] {
        if (text.isEmpty())
            return;
        const qint16 state = Winsock1.State();
        const bool canSend
            = (state == Winsock::sckOpen && !UseTCP) || state == Winsock::sckConnected;
        if (canSend) {
            Winsock1.SendData(text);
            if (text == AutoPingQuery)
                AutoPingProbe.noteQueryHandedOver();
            const bool probeText = text == AutoPingQuery || text == AutoPingResponse;
            m_lines.AddToMsgsBox(QStringLiteral("You"), probeText ? text + CRLF : text);
        } else {
            m_lines.AddToMsgsBox(Pebkac,
                                 QStringLiteral("You must establish a connection first.") + CRLF);
        }
        result = true;
    });
    return result;
}

void Session::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    Timer1.stop();
    AutoPingProbe.stop();
    Winsock1.disconnect(this);
    Winsock1.Close();
}

void Session::armStateWatch()
{
    // The watch starts with the window's load; before it, nothing is reported.
    if (m_watchInterval >= 0 && !m_finished && !Timer1.isActive())
        Timer1.start(m_watchInterval);
}

void Session::Timer1_Timer()
{
    const qint16 state = Winsock1.State();
    if (state == LastState)
        return;
    // A failing step is reported; the state counts as seen all the same, so
    // the watch does not stay quiet until the next change.
    LastState = state;
    Guard(m_lines, QStringLiteral(" in frmMain.Timer1_Timer; "), [&] {
        QString line = m_tables.States.name(state);
        switch (state) {
        case Winsock::sckConnected:
            line += QStringLiteral(" to ")
                    + HostAndPort(Winsock1.RemoteHostIP(), Winsock1.RemotePort());
            break;
        case Winsock::sckConnecting:
        case Winsock::sckConnectionPending:
            line += QStringLiteral(" to ")
                    + HostAndPort(Winsock1.RemoteHost(), Winsock1.RemotePort());
            break;
        case Winsock::sckResolvingHost: line += u' ' + m_remoteText; break;
        case Winsock::sckHostResolved:
            line += u' ' + m_remoteText + QStringLiteral(" as ") + Winsock1.RemoteHostIP();
            break;
        default: break;
        }
        m_lines.AddToMsgsBox(QStringLiteral("Winsock"), line + CRLF);
        LastState = Winsock1.State();
        emit stateShown();
    });
}
