// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// ReadyWatch: tells when any of many sockets has something to read, through
// one descriptor on the event loop.
//
// The event loop polls every descriptor it watches at every wake-up, so a
// probe of a thousand UDP targets with a notifier each made the system look
// at a thousand sockets a few dozen times a second.  Here the sockets sit in
// one epoll set, and the event loop watches the set alone: a wake-up costs
// what is ready, not what is watched.  Level-triggered, as a notifier is: a
// socket left with datagrams is told again at the next turn.
//
// Used on one thread, the one it was made on; it outlives its entries.  A
// callback may end any watch, its own included.

#include <QObject>

#include <functional>
#include <memory>
#include <unordered_map>

class QSocketNotifier;

class ReadyWatch : public QObject
{
    Q_OBJECT
public:
    // One socket watched, until this is destroyed.
    class Entry
    {
    public:
        ~Entry();
        Entry(const Entry &) = delete;
        Entry &operator=(const Entry &) = delete;

    private:
        friend class ReadyWatch;
        Entry(ReadyWatch &watch, int fd, quint64 token) : m_watch(watch), m_fd(fd), m_token(token)
        {}
        ReadyWatch &m_watch;
        int m_fd;
        quint64 m_token;
    };

    explicit ReadyWatch(QObject *parent = nullptr);
    ~ReadyWatch() override;

    // Calls readable on this thread whenever fd has something to read;
    // nothing when the set cannot take it (the caller watches fd itself).
    std::unique_ptr<Entry> watch(int fd, std::function<void()> readable);

    // Sockets told at most in one turn; the rest are told in the next.
    static constexpr int EventsPerTurn = 256;

private:
    void onReady();

    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    quint64 m_nextToken = 1;
    std::unordered_map<quint64, std::shared_ptr<std::function<void()>>> m_callbacks;
};
