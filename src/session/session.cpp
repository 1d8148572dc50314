// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "session.h"

#include "base/clock.h"
#include "base/conversions.h"
#include "base/failure.h"
#include "base/nametables.h"
#include "escapes.h"
#include "netenv/addressrules.h"
#include "socket/listener.h"
#include "socket/localaddress.h"
#include "socket/winsock.h"
#include "textcodec.h"
#include "tls/tlssetup.h"

#include <QStringBuilder>

Session::Session(const NameTables &tables, const AddressRules &rules, QObject *parent)
    : QObject(parent),
      m_tables(tables),
      m_rules(rules),
      m_listener(std::make_unique<Listener>()),
      Winsock1(std::make_unique<Winsock>()),
      m_truncated(
          1000,
          [this](quint64 count) { emit datagramsTruncated(count, Winsock::UdpReceiveBuffer); }),
      m_noDescriptor(60'000,
                     [this](quint64 count) { emit connectionsNotTaken(count, m_lastShortage); })
{
    connect(m_listener.get(), &Listener::ConnectionRequest, this,
            &Session::Winsock1_ConnectionRequest);
    connect(m_listener.get(), &Listener::stateTouched, this, &Session::armStateWatch);
    wire(*Winsock1);
    Timer1.setSingleShot(true);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &Session::Timer1_Timer);
    connect(m_listener.get(), &Listener::AcceptFailed, this, [this](bool program) {
        m_lastShortage = program;
        m_noDescriptor.note();
        emit descriptorShort();
    });
    m_tailTimer.setSingleShot(true);
    m_tailTimer.setInterval(TailWaitMs);
    connect(&m_tailTimer, &QTimer::timeout, this, &Session::flushTail);
}

Session::~Session()
{
    finish();
}

void Session::wire(Winsock &socket)
{
    connect(&socket, &Winsock::CloseEvent, this, &Session::Winsock1_Close);
    connect(&socket, &Winsock::ConnectEvent, this, &Session::Winsock1_Connect);
    connect(&socket, &Winsock::DataArrival, this, &Session::Winsock1_DataArrival);
    connect(&socket, &Winsock::Error, this, &Session::Winsock1_Error);
    connect(&socket, &Winsock::SendComplete, this, &Session::Winsock1_SendComplete);
    connect(&socket, &Winsock::SendProgress, this, &Session::Winsock1_SendProgress);
    connect(&socket, &Winsock::DatagramsDropped, this, &Session::Winsock1_DatagramsDropped);
    connect(&socket, &Winsock::DatagramRefused, this, &Session::Winsock1_DatagramRefused);
    connect(&socket, &Winsock::ForeignDatagram, this, &Session::Winsock1_ForeignDatagram);
    connect(&socket, &Winsock::DatagramTruncated, this, &Session::Winsock1_DatagramTruncated);
    connect(&socket, &Winsock::TlsReport, this, &Session::Winsock1_TlsReport);
    connect(&socket, &Winsock::stateTouched, this, &Session::armStateWatch);
}

// The accepted connection takes the place of the socket before it (closed).
void Session::adopt(std::unique_ptr<Winsock> socket)
{
    Winsock1 = std::move(socket);
    wire(*Winsock1);
    m_stream.clear();
    m_tailTimer.stop();
    armStateWatch();
}

SocketState Session::state() const
{
    const SocketState listening = m_listener->State();
    return listening != SocketState::Closed ? listening : Winsock1->State();
}

QString Session::stateName() const
{
    return m_tables.States.name(StateCode(state()));
}

Session::View Session::view() const
{
    View view;
    view.state = state();
    view.group = GroupOf(view.state);
    view.canSend = view.group == StateGroup::Ready;
    view.canProbe = view.canSend && m_config.role == Role::Client;
    view.localAddress = Winsock1->LocalIP();
    view.localPort = Winsock1->LocalPort();
    view.remoteAddress = remoteHostShown();
    view.remotePort = Winsock1->RemotePort();
    return view;
}

QString Session::peer() const
{
    const Endpoint end = peerEnd();
    return HostAndPort(end.address, end.port);
}

quint64 Session::nextSendNumber() const
{
    return Winsock1->NextSendNumber();
}

qint64 Session::sentAtUs(quint64 number) const
{
    return Winsock1->SentAtUs(number);
}

Endpoint Session::peerEnd() const
{
    // A UDP client that has heard nothing yet knows its peer only by name.
    const QString address = Winsock1->RemoteHostIP();
    return {address.isEmpty() ? Winsock1->RemoteHost() : address, Winsock1->RemotePort()};
}

QString Session::remoteHostShown() const
{
    const QString address = Winsock1->RemoteHostIP();
    if (address.isEmpty() && m_config.transport == Transport::Udp && m_config.role == Role::Client)
        return Winsock1->RemoteHost();
    return address;
}

bool Session::closeIfOpen()
{
    const bool open = state() != SocketState::Closed;
    m_listener->Close();
    Winsock1->Close();
    m_stream.clear();
    m_tailTimer.stop();
    m_probeStream.clear();
    return open;
}

bool Session::checkEnds(Role role, const QString &localAddress, const QString &remoteAddress,
                        const std::function<bool(bool local)> &portValid)
{
    // Every check runs and tells its own refusal; any fault refuses the open.
    bool refusedOpen = false;
    const auto refuse = [&](Refusal::Kind kind, const QString &why = {}) {
        emit refused({kind, why, 0, 0});
        refusedOpen = true;
    };
    if (role == Role::Server) {
        if (localAddress.isEmpty())
            refuse(Refusal::Kind::NoLocalAddress);
        if (!portValid(true))
            refuse(Refusal::Kind::LocalPort);
    } else {
        if (QString reason; !m_rules.CheckAddress(remoteAddress, reason))
            refuse(Refusal::Kind::RemoteAddress, reason);
        if (!portValid(false))
            refuse(Refusal::Kind::RemotePort);
    }
    return !refusedOpen;
}

bool Session::CheckFields(Role role, const Fields &fields)
{
    return checkEnds(role, fields.localAddress, fields.remoteAddress, [&](bool local) {
        return CheckPort(local ? fields.localPort : fields.remotePort);
    });
}

bool Session::CheckEnds(const Config &config)
{
    const Ends &ends = config.ends;
    return checkEnds(config.role, ends.localAddress, ends.remoteAddress, [&](bool local) {
        const qint32 port = local ? ends.localPort : ends.remotePort;
        return port >= 1 && port <= 65535;
    });
}

void Session::OpenFields(Config config, const Fields &fields)
{
    // A server's remote port is not read: its field may hold anything.
    const bool read = TryRun(
        [&] {
            const bool client = config.role == Role::Client;
            config.ends = {fields.localAddress, ToLong(fields.localPort), fields.remoteAddress,
                           client ? ToLong(fields.remotePort) : 0};
        },
        [&](const RuntimeError &e) { emit openFailed(state(), e); });
    if (read)
        OpenIt(config);
}

bool Session::CheckPort(const QString &port)
{
    bool result = false;
    guard(Procedure::CheckPort, [&] {
        if (port.isEmpty())
            return;
        const qint32 number = ToLong(port);
        result = number >= 1 && number <= 65535;
    });
    return result;
}

void Session::OpenIt(const Config &config)
{
    TryRun(
        [&] {
            const Ends &ends = config.ends;
            closeIfOpen();
            m_config = config;
            const SocketOptions &options = config.socket;
            Winsock1->setLocalPort(ends.localPort);
            Winsock1->setFamily(options.family);
            Winsock1->setPacketPath(options.tos, options.device);
            m_listener->setTos(options.tos);
            Winsock1->setStateHolds(!options.quickStates);
            Winsock1->setConnectTimeoutMs(config.connectTimeoutMs > 0
                                              ? config.connectTimeoutMs
                                              : Winsock::DefaultConnectTimeoutMs);
            const bool server = config.role == Role::Server;
            if (config.transport != Transport::Udp) {
                const bool tls = config.transport == Transport::Tls;
                TlsUsed used;
                const TlsSetup setup = tls ? tlsSetup(config, used) : TlsSetup();
                Winsock1->setProtocol(tls ? Winsock::sckTLSProtocol : Winsock::sckTCPProtocol);
                Winsock1->setStreamStamps(options.streamStamps && !server);
                if (server) {
                    m_listener->setTls(setup);
                    m_listener->Bind(ends.localPort, ends.localAddress);
                    m_listener->Listen();
                } else {
                    Winsock1->setTls(setup);
                    Winsock1->setRemoteHost(ends.remoteAddress);
                    Winsock1->setRemotePort(ends.remotePort);
                    Winsock1->setLocalHost(config.source);
                    Winsock1->Connect();
                }
                emit paneCleared();
                if (used.any())
                    emit tlsSetUp(used);
            } else {
                Winsock1->setProtocol(Winsock::sckUDPProtocol);
                Winsock1->setUdpBatches(options.batches && server);
                Winsock1->setOnePeer(options.onePeer && !server);
                Winsock1->setReadyWatch(options.readyWatch);
                m_refusalTold = false;
                if (server) {
                    Winsock1->Bind(ends.localPort, ends.localAddress);
                } else {
                    Winsock1->setRemoteHost(ends.remoteAddress);
                    Winsock1->setRemotePort(ends.remotePort);
                    Winsock1->Bind(ends.localPort, ends.localAddress);
                    emit paneCleared();
                }
            }
        },
        [&](const RuntimeError &e) {
            // The report names the socket's state at the moment of the failure.
            emit openFailed(state(), e);
        });
}

bool Session::sendBytes(const QByteArray &bytes, const QString &echo, Procedure piece,
                        bool lineEnded)
{
    bool result = false;
    guard(piece, [&] {
        if (bytes.isEmpty())
            return;
        const SocketState now = state();
        const bool canSend = (now == SocketState::Open && m_config.transport == Transport::Udp)
                             || now == SocketState::Connected;
        if (canSend) {
            const qint64 at = MonotonicUs();
            Winsock1->SendData(bytes);
            emit dataSent({{Winsock1->LocalIP(), Winsock1->LocalPort()}, echo, lineEnded, {}, at});
        } else {
            emit refused({Refusal::Kind::NotConnected, {}, 0, 0});
        }
        result = true;
    });
    return result;
}

bool Session::Send(const QString &text)
{
    // A padded AutoPing text ends its own line.
    return sendBytes(EncodeForSending(text), text, Procedure::Send, text.endsWith(u'\n'));
}

bool Session::SendTyped(const QStringList &lines, const Typing &typing)
{
    static const QString endings[] = {CRLF, QStringLiteral("\n"), QStringLiteral("\r"), {}};
    const QString &ending = endings[int(typing.lineEnd)];
    const QString &lineBreak = typing.lineEnd == LineEnd::None ? CRLF : ending;
    QByteArray bytes;
    qsizetype line = 0;
    for (const QString &text : lines) {
        ++line;
        if (!typing.escapes) {
            bytes += EncodeForSending(text);
        } else if (const EscapedBytes read = ReadEscapes(text); read.error.isEmpty()) {
            bytes += read.bytes;
        } else {
            emit refused(
                {Refusal::Kind::BadEscape, read.error, lines.size() > 1 ? line : 0, read.position});
            return false;
        }
        bytes += EncodeForSending(line < lines.size() ? lineBreak : ending);
    }
    sendBytes(bytes, DecodeReceived(bytes, true).text, Procedure::Send, true);
    return true;
}

void Session::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    Timer1.stop();
    m_tailTimer.stop();
    m_listener->disconnect(this);
    Winsock1->disconnect(this);
    m_listener->Close();
    Winsock1->Close();
}

void Session::armStateWatch()
{
    // The watch starts with the window's load; before it, nothing is reported.
    // Without holds a state may last a single turn: looked at in the next.
    if (m_watchInterval >= 0 && !m_finished && !Timer1.isActive())
        Timer1.start(m_config.socket.quickStates ? 0 : m_watchInterval);
}

void Session::Timer1_Timer()
{
    const SocketState now = state();
    if (now == LastState)
        return;
    // A failing step is reported; the state counts as seen all the same, so
    // the watch does not stay quiet until the next change.
    LastState = now;
    guard(Procedure::StateWatch, [&] {
        emit stateSeen({now, m_config.ends.remoteAddress, Winsock1->RemoteHost(),
                        Winsock1->RemoteHostIP(), Winsock1->RemotePort()});
        LastState = state();
        emit stateShown();
    });
}
