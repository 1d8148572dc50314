// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The sender's pace: how many pieces are due by a moment, and when the next
// one is.  A tick comes every burst / rate seconds from the start, and
// brings burst pieces, sent back to back; the first tick is at the start.
// A sender that wakes late sends what fell due meanwhile in one go, so the
// average rate holds whatever the wake-ups' precision (a timer of about a
// millisecond at 100,000 pieces a second: a hundred at each wake-up).
//
// The rate as the command line takes it (ParseLoadRate): a plain number is
// pieces (datagrams) a second, "1000"; a number with k, M or G after it is
// bits a second (decimal, as iperf3 counts), "100k", "10M", "1.5G", with
// "bit/s" or "b" allowed after the letter; 0: as fast as the path takes.

#include <QString>
#include <QtGlobal>

#include <optional>

struct LoadRate
{
    double value = 0;  // pieces a second, or bits a second
    bool bits = false; // value is bits a second
    // Pieces a second for pieces of size bytes (0: as fast as possible).
    double piecesPerSecond(int size) const { return bits ? value / (8.0 * size) : value; }
};

// The rate as written; nothing when it is no rate (error says why).
std::optional<LoadRate> ParseLoadRate(const QString &text, QString *error = nullptr);

class LoadPacer
{
public:
    // perSecond 0: every wake-up sends as much as it can.
    LoadPacer(double perSecond = 0, int burst = 1);
    void start(qint64 atUs) { m_startUs = atUs; }
    bool unlimited() const { return m_perSecond <= 0; }
    // Pieces due from the start up to nowUs (whole ticks).
    quint64 dueBy(qint64 nowUs) const;
    // When piece number index (from 0) is due.
    qint64 dueAt(quint64 index) const;
    double perSecond() const { return m_perSecond; }
    int burst() const { return m_burst; }

private:
    double m_perSecond;
    int m_burst;
    qint64 m_startUs = 0;
};
