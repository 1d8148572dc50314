// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// StampReflector: `selmarin respond --stamp`, the session-reflector of the
// two-way measurement protocol (and of TWAMP-Light, whose senders it
// answers alike) on a UDP socket of its own, unauthenticated and stateful.
//
// - Every sender's session (its address and port, the local address it
//   asked, its SSID) has the reflector's own sequence number, from 0, so a
//   sender tells the loss of each direction apart.  MaxSessions are kept;
//   a new one beyond them makes the one silent the longest forgotten.
// - T2 is the system's receive stamp of the datagram (SO_TIMESTAMPING's
//   software stamp, or SO_TIMESTAMPNS where that is refused: on the
//   real-time clock, when the datagram reached the socket, before this
//   program woke up for it).  Where the system gives none, the program's
//   clock, and the Timestamp Information TLV says which ("software, local"
//   or "control plane").
// - T3 is the program's clock just before the answer is handed to the
//   system (for a batch, once, as the batch is).  The system could stamp the answer as it leaves
//   (a transmit stamp on the error queue), but only after the answer is
//   sent, and T3 is in the answer: such a stamp could only ever be told in
//   the next one, which the protocol has no room for.  So T3 says
//   "control plane"; what it misses is the system's own send path (a few
//   microseconds), which counts as the path's.
// - The TTL (hop limit) and the DSCP the request arrived with are read
//   from its header (IP_RECVTTL, IPV6_RECVHOPLIMIT, IP_RECVTOS,
//   IPV6_RECVTCLASS); the answer goes from the address asked (IP_PKTINFO,
//   IPV6_PKTINFO), with the DSCP a Class of Service TLV asks for.
// - The error estimate comes from the system clock's state (adjtimex:
//   synchronized or not, its estimated error), read at most once a second.
// - Nothing is answered to port 0, or to a broadcast or multicast source,
//   to a source outside the allowed ranges or over its budget of answers
//   (sourcegate.h), or to a datagram too short to be a test packet
//   (stamp/stampreply.h); those are counted.  The answer is never longer than the request, or
//   the base packet: no sender makes it send more than a few times what
//   it was sent.
//
// Datagrams are taken and answered in batches (recvmmsg, sendmmsg) when
// the socket is ready, on the event loop.

#include "sourcegate.h"
#include "udp/packetinfo.h"

#include <QByteArrayView>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

class QSocketNotifier;
struct msghdr;

class StampReflector : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxSessions = 65536;

    // One sender's session, and its answers since the last minute().
    struct Session
    {
        QHostAddress sender;
        quint16 senderPort = 0;
        QHostAddress local;
        quint16 ssid = 0;
        quint32 nextSeq = 0;      // the reflector's number of its next answer
        quint64 answered = 0;     // since the last minute()
        bool systemStamps = true; // the last request's T2 was the system's
    };
    // What was not answered since the last minute().
    struct Ignored
    {
        quint64 tooShort = 0; // shorter than a sender's packet
        // From port 0, a broadcast or multicast address, outside the
        // allowed ranges, over the budget.
        SourceGate::Minute refused;
        quint64 sendFailed = 0; // the system did not take the answer
        quint64 forgotten = 0;  // sessions forgotten to make room
        int lastSendError = 0;  // errno of the last that failed
    };

    // Keeps at most maxSessions sessions; answers as limits allow.
    // setOption: setsockopt, or a stand-in that refuses the time stamps.
    explicit StampReflector(QObject *parent = nullptr, int maxSessions = MaxSessions,
                            SetSocketOption setOption = ::setsockopt,
                            const ResponderLimits &limits = {});
    ~StampReflector() override;
    // Answers as limits' allow-list and budgets say from now on.
    void setLimits(const ResponderLimits &limits) { m_gate.setLimits(limits); }

    // Binds local (an IPv4 or IPv6 address; "::": every address of both
    // families) and port; false with the system's errno and its words.
    bool open(const QString &local, quint16 port, int *number, QString *why);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    quint16 port() const { return m_port; }
    // Answers sent since the reflector was opened.
    quint64 answeredTotal() const { return m_answeredTotal; }
    // How the socket stamps what arrives.
    ArrivalStamps arrivalStamps() const { return m_arrivalStamps; }

    // The sessions that sent since the last call, with what they sent, and
    // what was not answered; the counts start again.
    std::vector<Session> minute(Ignored *ignored);

private:
    struct Key
    {
        unsigned char sender[16];
        unsigned char local[16];
        quint16 senderPort;
        quint16 ssid;
        bool operator==(const Key &other) const;
    };
    struct KeyHash
    {
        size_t operator()(const Key &key) const;
    };
    struct Entry
    {
        Key key;
        Session session;
    };
    struct Slot;
    struct Buffers;
    static constexpr int Batch = 64; // BatchMost of udp/batchsend.h
    static constexpr int DatagramMost = 65536;
    void readReady();
    // The answer to one datagram, in slot; false when it gets none.
    bool reflect(Slot &slot, QByteArrayView request, const msghdr &message);
    void tally(int taken);
    Entry &sessionOf(const Key &key);

    int m_maxSessions;
    SetSocketOption m_setOption;
    ArrivalStamps m_arrivalStamps = ArrivalStamps::None;
    SourceGate m_gate;
    int m_fd = -1;
    quint16 m_port = 0;
    bool m_ipv6 = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // Most recently heard first; the index finds a session's place.
    std::list<Entry> m_sessions;
    std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> m_index;
    Ignored m_ignored;
    quint64 m_answeredTotal = 0;
    struct Clock;
    std::unique_ptr<Clock> m_clock;
    std::unique_ptr<Buffers> m_buffers; // made at the first datagram
};
