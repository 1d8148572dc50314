// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Throttle: tells a thing that can happen a thousand times a second (a
// datagram too long, a client turned away, no descriptor left) without
// letting it fill the terminal or the log: the first at once, then what
// came meanwhile as one count at the end of each period in which more came.

#include <QTimer>

#include <functional>

class Throttle
{
public:
    // tell(count): count times since the last time it was told.
    Throttle(int periodMs, std::function<void(quint64)> tell) : m_tell(std::move(tell))
    {
        m_period.setSingleShot(true);
        m_period.setInterval(periodMs);
        QObject::connect(&m_period, &QTimer::timeout, &m_period, [this] {
            if (m_pending > 0) {
                m_tell(std::exchange(m_pending, 0));
                m_period.start();
            }
        });
    }
    void note()
    {
        ++m_total;
        if (m_period.isActive()) {
            ++m_pending;
            return;
        }
        m_tell(1);
        m_period.start();
    }
    quint64 total() const { return m_total; }

private:
    std::function<void(quint64)> m_tell;
    QTimer m_period;
    quint64 m_pending = 0;
    quint64 m_total = 0;
};
