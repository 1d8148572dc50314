// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Knock: one packet toward a port from a socket of its own, and what came
// back: a TCP connection attempt (its SYN) or a UDP datagram (an AutoPing
// query), with a hop limit or the system's own.  The socket asks for the
// system's error reports (IP_RECVERR, IPV6_RECVERR), so an ICMP message
// about the packet is known with the router or host that sent it.  No
// privileges are needed: ordinary sockets, not raw ones.
//
// The caller polls fd() for events() and hands what poll said to settle();
// a knock that is still undecided when the caller stops waiting was met
// with silence.

#include "pathverdict.h"

#include <QHostAddress>

class Knock
{
public:
    // hops: the packet's hop limit (TTL); 0: the system's.
    // from: the local address to leave from (null: the system's choice).
    Knock(bool tcp, const QHostAddress &to, quint16 port, int hops = 0,
          const QHostAddress &from = {});
    ~Knock();
    Knock(const Knock &) = delete;
    Knock &operator=(const Knock &) = delete;

    // Sends the packet; false when the system would not (error() says why).
    bool send();
    int fd() const { return m_fd; }
    short events() const;
    // What poll reported for fd(); true once the knock is decided.
    bool settle(short revents);

    bool decided() const { return m_decided; }
    bool answered() const { return m_answered; } // connected, or a datagram came back
    int error() const { return m_error; }
    const IcmpSeen &icmp() const { return m_icmp; }
    qint64 rttUs() const { return m_atUs < 0 ? -1 : m_atUs - m_sentUs; }
    int hops() const { return m_hops; }
    // How many times the packet went by the time it was decided (a SYN
    // sent again counts each time).
    int sends() const { return m_sends; }
    // A TCP connection attempt that is still waiting: whether the system's
    // retransmission of its SYN (a second after the first) left this
    // machine.  1 it did, 0 this machine's firewall dropped it (the system
    // counts the retransmission but could not send it), -1 not known yet.
    int retransmissionLeft() const;
    // Stops the packet's retransmissions (the socket is closed): nothing
    // more goes toward the path, nothing more is heard; retransmissionLeft()
    // keeps what it said.
    void quiet();
    // The connected socket, handed over (the knock no longer closes it).
    int release();

private:
    // The system's TCP figures of the socket; false for UDP or once closed.
    bool tcpInfo(struct tcp_info &info) const;
    void takeReports();
    void decide(int error);

    bool m_tcp;
    QHostAddress m_to;
    QHostAddress m_from;
    quint16 m_port;
    int m_hops;
    int m_fd = -1;
    bool m_ipv6 = false;
    bool m_decided = false;
    bool m_answered = false;
    int m_error = 0;
    IcmpSeen m_icmp;
    qint64 m_sentUs = -1;
    qint64 m_atUs = -1;
    int m_left = -1; // retransmissionLeft() when the knock was quieted
    int m_sends = 1;
};
