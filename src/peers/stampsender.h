// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// StampSender: the session-sender of the two-way measurement, on a UDP
// socket of its own that talks to one reflector.  Query seq of the probe
// (from 1) goes out as the sender's packet numbered seq - 1, with TTL (hop
// limit) 255, T1 in NTP format and this machine's error estimate.  An
// answer is matched by the sender's number it echoes; its arrival is the
// system's receive stamp (SO_TIMESTAMPNS; the program's clock where there
// is none), so this program's own delay is not the path's.  The reflector's
// T2 and T3 are read in the format its error estimate names (NTP, or PTP
// on this machine's TAI offset).  What the answers tell is kept in
// figures() (stamp/stampfigures.h).

#include "stamp/stampfigures.h"
#include "udp/packetinfo.h"

#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

class StampSender : public QObject
{
    Q_OBJECT
public:
    explicit StampSender(QObject *parent = nullptr);
    ~StampSender() override;

    // A socket to address (an IPv4 or IPv6 address) and port, from source
    // and localPort when given, its packets leaving by path; false with the
    // system's errno.
    bool open(const QString &address, quint16 port, const QString &source, quint16 localPort,
              const PacketPath &path, int *number);
    void close();
    // Sends query seq; false with the system's errno.
    bool send(int seq, int *number);
    const StampFigures &figures() const { return m_figures; }

signals:
    // The answer to query seq arrived at atUs (the monotonic clock, base/clock.h).
    void answered(int seq, qint64 atUs);
    // The system told of a failure on the path (an ICMP error): errno.
    void failed(int number);

private:
    void readReady();

    int m_fd = -1;
    bool m_ipv6 = false;
    quint64 m_sent = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    StampFigures m_figures;
};
