// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// What a run without a window tells the service manager that started it:
// that it is up (its sockets bound, its targets started), that it reloads
// and is up again, and that it stops.  Under systemd (a unit of Type=notify)
// the notices go to the socket named by NOTIFY_SOCKET; without that variable
// they go nowhere, so a run from a terminal is the same as ever.  main()
// makes the real one; tests hand the program a socket of their own.

#include <QObject>

#include <functional>

class ServiceManager
{
public:
    virtual ~ServiceManager() = default;
    virtual void ready() = 0;
    // With the monotonic clock's time of the reload's start.
    virtual void reloading() = 0;
    virtual void stopping() = 0;
};

// sd_notify(3) from libsystemd.
class SystemdManager final : public ServiceManager
{
public:
    void ready() override;
    void reloading() override;
    void stopping() override;
};

class UnixSignals;

// The signals a running command takes: SIGHUP runs reload (which tells the
// service manager RELOADING=1 and READY=1 around its work); SIGINT and
// SIGTERM, and SIGHUP for a run without a reload, say STOPPING=1 and then
// run stop, which ends the run.
class RunSignals : public QObject
{
    Q_OBJECT
public:
    RunSignals(ServiceManager &manager, std::function<void()> reload, std::function<void()> stop,
               QObject *parent = nullptr);

private:
    void handle(int signalNumber);

    ServiceManager &m_manager;
    std::function<void()> m_reload;
    std::function<void()> m_stop;
    UnixSignals *m_signals;
};
