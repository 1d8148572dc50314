// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// ProbeClock: one timer for the probers of a run.
//
// A timer of Qt's is kept in a list sorted by when it is due, and starting
// one walks that list: with a timer per target, a probe of ten thousand
// targets, each re-armed at every query and every answer, spent its
// processor on that walk and fell behind.  Here the probers' moments wait
// in an ordered map (logarithmic to add and take), and one precise timer
// wakes the run at the earliest; each prober due then is woken in turn.
//
// Used on one thread; it outlives the probers it wakes.

#include <QObject>
#include <QTimer>

#include <functional>
#include <map>
#include <unordered_map>
#include <unordered_set>

class ProbeClock : public QObject
{
    Q_OBJECT
public:
    explicit ProbeClock(QObject *parent = nullptr);

    // Calls wake at atUs (base/clock.h's monotonic clock; within a
    // millisecond after it), instead of what who asked for before.
    void wakeAt(const void *who, qint64 atUs, std::function<void()> wake);
    // Forgets what who asked for.
    void cancel(const void *who);

private:
    void onTimeout();
    void arm();

    struct Waiting
    {
        const void *who;
        std::function<void()> wake;
    };
    std::multimap<qint64, Waiting> m_due;
    std::unordered_map<const void *, std::multimap<qint64, Waiting>::iterator> m_byWho;
    QTimer m_timer;
    qint64 m_armedForUs = -1;
    bool m_waking = false;                         // in onTimeout, calling the due
    std::unordered_set<const void *> m_superseded; // ... and these no more
};
