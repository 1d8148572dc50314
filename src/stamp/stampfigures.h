// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// StampFigures: what a sender of the two-way measurement learned of its
// path from the reflector's answers, beside the probe's own figures.
//
// Each answer gives T1 (when the query went, copied back), T2 and T3 (the
// reflector's receipt and sending), T4 (the answer's arrival here), the TTL
// the reflector saw and the reflector's own number for it.  Hence:
//
//   the round trip less the reflector's time   (T4 - T1) - (T3 - T2)
//   the forward and backward delays            T2 - T1, T4 - T3, only when
//                                              both ends' clocks say they
//                                              are synchronized
//   the loss of each direction                 between two answers, the
//                                              queries the reflector counted
//                                              (a gap in its numbers) lost
//                                              their answer: backward; the
//                                              rest never reached it: forward
//
// A stateful reflector numbers a session from 0, so the queries before the
// first answer split the same way.  Those after the last answer cannot be
// told apart: their direction is not known.  Nor is any loss's when the
// reflector numbers its answers 0 throughout (a TWAMP-Light or stateless
// one): two answers or more, all numbered 0.
//
// The one-way delays are counted in histograms with the probe's round-trip
// bounds (probe/probefigures.h), for the metrics page.

#include "probe/probefigures.h"

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

#include <map>

class StampFigures
{
public:
    struct Answer
    {
        quint32 senderSeq = 0;                         // the query's number on the wire, from 0
        quint32 reflectorSeq = 0;                      // the reflector's
        qint64 t1Ns = 0, t2Ns = 0, t3Ns = 0, t4Ns = 0; // real-time clock, ns
        bool bothSynchronized = false;
        bool reflectorSynchronized = false;
        int ttlAtReflector = -1; // the TTL our query arrived with there
        int ttlHere = -1;        // the TTL its answer arrived with here
        qint64 errorNs = 0;      // both ends' error estimates together
        // T1 and T4 are the system's stamps (else the program's clock's).
        bool systemSent = false, systemReceived = false;
    };
    struct Loss
    {
        quint64 forward = 0, backward = 0, unknown = 0;
    };
    struct Spread
    {
        quint64 count = 0;
        qint64 minNs = 0, maxNs = 0, sumNs = 0;
        void add(qint64 ns);
        ProbeFigures::Buckets buckets{}; // by ProbeFigures::BucketUs
        double avgNs() const { return count ? double(sumNs) / double(count) : 0.0; }
    };
    // One answer's figures, for its line.
    struct Query
    {
        quint32 senderSeq = 0;
        qint64 netNs = 0;                     // the round trip less the reflector's time
        bool oneWay = false;                  // forward and backward hold the delays
        qint64 forwardNs = 0, backwardNs = 0; // T2 - T1, T4 - T3
        int ttlAtReflector = -1, ttlHere = -1;
        // The queries unanswered since the answer before it (by number),
        // and how they split; not numbered: their direction is not known.
        qint64 since = -1; // that answer's sender number; -1: none before it
        quint64 unanswered = 0, forward = 0, backward = 0;
        bool numbered = true;
    };

    // Queries sent so far (the wire's numbers 0 to sent - 1).
    void setSent(quint64 sent) { m_sent = sent; }
    // False for a second answer to the same query (not counted again).
    bool add(const Answer &answer);

    quint64 answers() const { return m_answers.size(); }
    // The last answer added.
    const Query &last() const { return m_last; }
    // The reflector numbers its answers (the direction of a loss is known).
    bool numbered() const { return m_answers.size() < 2 || m_highestReflectorSeq > 0; }
    Loss loss() const;
    const Spread &netRtt() const { return m_net; }
    const Spread &reflectorTime() const { return m_reflector; }
    const Spread &forward() const { return m_forward; }
    const Spread &backward() const { return m_backward; }
    // Why the one-way delays are left out; empty when they are given.
    QString oneWayLeftOut() const;
    // The most the one-way delays may be off: the largest sum of both ends'
    // error estimates among the answers that gave them.
    qint64 oneWayErrorNs() const { return m_oneWayErrorNs; }
    int ttlAtReflector() const { return m_ttlAtReflector; }
    int ttlHere() const { return m_ttlHere; }

    // Lines for the summary (without line ends), and the JSON object.
    QStringList summaryLines() const;
    QJsonObject json() const;

private:
    quint64 m_sent = 0;
    std::map<quint32, quint32> m_answers; // the sender's number to the reflector's
    Spread m_net, m_reflector, m_forward, m_backward;
    quint64 m_unsynchronized = 0, m_reflectorUnsynchronized = 0;
    int m_ttlAtReflector = -1, m_ttlHere = -1;
    quint32 m_highestReflectorSeq = 0;
    qint64 m_oneWayErrorNs = 0;
    Query m_last;
    quint64 m_systemSent = 0, m_systemReceived = 0;
};
