// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "diagnosis.h"

#include <QMetaObject>

#include <mutex>
#include <thread>

// What the thread and the object share: the thread posts to the object only
// while it lives (under the lock, which its end takes too).
struct Diagnosis::Shared
{
    std::mutex lock;
    Diagnosis *receiver = nullptr;
    std::atomic<bool> stop = false;

    // tell(receiver) runs on the receiver's thread, unless it is gone first.
    template<typename F>
    void post(F tell)
    {
        const std::lock_guard held(lock);
        if (receiver)
            QMetaObject::invokeMethod(
                receiver, [to = receiver, tell] { tell(to); }, Qt::QueuedConnection);
    }
};

Diagnosis::Diagnosis(QObject *parent) : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->receiver = this;
}

Diagnosis::~Diagnosis()
{
    const std::lock_guard held(m_shared->lock);
    m_shared->receiver = nullptr;
    m_shared->stop = true;
}

void Diagnosis::start(const Question &question)
{
    // Detached: a name look-up cannot be interrupted, and the end of the
    // object must not wait for it.  The thread holds what it uses.
    std::thread([shared = m_shared, question] {
        const PathVerdict verdict = Diagnose(
            question,
            [&](Step step, const PathVerdict &soFar) {
                shared->post([step, soFar](Diagnosis *to) { emit to->stepDone(step, soFar); });
            },
            shared->stop);
        shared->post([verdict](Diagnosis *to) { emit to->finished(verdict); });
    }).detach();
}
