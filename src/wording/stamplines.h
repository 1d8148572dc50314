// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The lines of the two-way measurement's reflector (peers/stampreflector.h):
// a line when it opens, naming its port, or why it could not; and, as a
// responder's (respondlines.h), a line a minute for each session that sent,
// instead of one a packet (MaxSessionsTold of them, the rest in one line),
// with what was not answered told together.
//
//   STAMP: Reflecting test packets on UDP port 862 ([::], IPv4 and IPv6)
//   STAMP: The system stamps no arrivals here: T2 is this program's clock
//          when it reads                      (only where it refuses to)
//   STAMP: 10.0.0.5:40123 (SSID 7) in the last minute: 60 packets reflected
//   STAMP: in the last minute, not answered: 3 too short for a test packet,
//          1 from port 0 or a broadcast or multicast address
//
// And the sender's words for each answer, after its round trip
// (StampAnswerText): the round trip less the reflector's time, the one-way
// delays when both clocks are synchronized, the TTL at the reflector and
// here, and the queries lost since the answer before it, by direction:
//
//   answer from 10.0.0.7:862: seq=5 time=0.315 ms path=0.290 ms
//       forward=0.131 ms backward=0.159 ms ttl=254/63
//       (lost since seq=2: 1 forward, 1 backward)

#include <QObject>
#include <QString>

class MsgSink;
class StampFigures;
class StampReflector;

// The words after the round trip of query seq's answer, when figures' last
// answer is its; else none.
QString StampAnswerText(const StampFigures &figures, int seq);

class StampLines : public QObject
{
    Q_OBJECT
public:
    // Sessions told apart in a minute (the most recently heard); the rest
    // are told together.
    static constexpr int MaxSessionsTold = 4096;

    StampLines(StampReflector &reflector, MsgSink &lines, QObject *parent = nullptr);

    // The reflector opened on local (as the command line gave it) and port.
    void tellOpened(const QString &local);
    // It could not: the system's errno and its words.
    void tellOpenFailed(const QString &local, quint16 port, int number, const QString &why);
    // The minute's figures since the last call.
    void tellMinute();

private:
    StampReflector &m_reflector;
    MsgSink &m_lines;
};
