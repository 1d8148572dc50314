// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "readywatch.h"

#include <QSocketNotifier>

#include <array>
#include <sys/epoll.h>
#include <unistd.h>

ReadyWatch::ReadyWatch(QObject *parent) : QObject(parent)
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        return;
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ReadyWatch::onReady);
}

ReadyWatch::~ReadyWatch()
{
    delete m_notifier;
    if (m_epoll >= 0)
        ::close(m_epoll);
}

std::unique_ptr<ReadyWatch::Entry> ReadyWatch::watch(int fd, std::function<void()> readable)
{
    if (m_epoll < 0)
        return nullptr;
    const quint64 token = m_nextToken++;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = token;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
        return nullptr;
    m_callbacks.emplace(token, std::make_shared<std::function<void()>>(std::move(readable)));
    return std::unique_ptr<Entry>(new Entry(*this, fd, token));
}

ReadyWatch::Entry::~Entry()
{
    // The descriptor may be closed already, which took it out of the set.
    ::epoll_ctl(m_watch.m_epoll, EPOLL_CTL_DEL, m_fd, nullptr);
    m_watch.m_callbacks.erase(m_token);
}

void ReadyWatch::onReady()
{
    std::array<epoll_event, EventsPerTurn> events{};
    const int count = ::epoll_wait(m_epoll, events.data(), int(events.size()), 0);
    for (int i = 0; i < count; ++i) {
        // A callback before this one may have ended this watch.
        const auto it = m_callbacks.find(events[size_t(i)].data.u64);
        if (it == m_callbacks.end())
            continue;
        const auto callback = it->second; // lives on while it runs
        (*callback)();
    }
}
