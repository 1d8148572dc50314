// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// StampSender: the session-sender of the two-way measurement, on a UDP
// socket of its own that talks to one reflector.  Query seq of the probe
// (from 1) goes out as the sender's packet numbered seq - 1, with TTL (hop
// limit) 255, T1 in NTP format and this machine's error estimate.  An
// answer is matched by the sender's number it echoes.  What the answers
// tell is kept in figures() (stamp/stampfigures.h).  The reflector's T2
// and T3 are read in the format its error estimate names (NTP, or PTP on
// this machine's TAI offset).
//
// The system stamps both ends of the round trip here, so this program's
// own delays are not the path's:
// - T4 is the answer's receive stamp (SO_TIMESTAMPING's software stamp, or
//   SO_TIMESTAMPNS where that is refused);
// - T1 goes in the query from the program's clock just before it is sent
//   (the system's stamp comes only after), but the round trips are timed
//   from the system's transmit stamp of the query: the error queue hands it
//   over numbered by the order of the sends (SOF_TIMESTAMPING_OPT_ID), and
//   it is taken before any answer that came with it.  A stamp that is not
//   between the query's T1 and a second after is not the query's (the
//   system numbered a send that failed) and is not used.
// Where the system gives no stamp, the program's clock stands in, and the
// figures count how often (the summary and the JSON say so).

#include "stamp/stampfigures.h"
#include "udp/packetinfo.h"

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QSocketNotifier;

class StampSender : public QObject
{
    Q_OBJECT
public:
    // setOption: setsockopt, or a stand-in that refuses the time stamps.
    explicit StampSender(QObject *parent = nullptr, SetSocketOption setOption = ::setsockopt);
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
    ArrivalStamps stamps() const { return m_stamps; }

signals:
    // The answer to query seq arrived at atUs (the monotonic clock, base/clock.h).
    void answered(int seq, qint64 atUs);
    // The system told of a failure on the path (an ICMP error): errno.
    void failed(int number);

private:
    void readReady();
    void sendStamped(std::uint32_t number, std::int64_t ns);

    // The last sends (by the system's number of each), and the system's
    // transmit stamps of the last queries (by their number on the wire).
    static constexpr std::size_t Remembered = 4096;
    struct Send
    {
        quint64 number = ~quint64(0);
        quint32 seq = 0;
        qint64 t1Ns = 0;
    };
    struct Sent
    {
        quint32 seq = 0;
        qint64 ns = -1;
    };
    SetSocketOption m_setOption;
    ArrivalStamps m_stamps = ArrivalStamps::None;
    quint64 m_sends = 0;
    std::vector<Send> m_sendNumbers = std::vector<Send>(Remembered);
    std::vector<Sent> m_sentAt = std::vector<Sent>(Remembered);
    int m_fd = -1;
    bool m_ipv6 = false;
    quint64 m_sent = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    StampFigures m_figures;
};
