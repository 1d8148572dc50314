// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "servicemanager.h"

#include "unixsignals.h"

#include <systemd/sd-daemon.h>

#include <cinttypes>
#include <csignal>
#include <ctime>

void SystemdManager::ready()
{
    ::sd_notify(0, "READY=1");
}

void SystemdManager::reloading()
{
    // systemd matches the reload to its own request by this time stamp.
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t usec
        = std::uint64_t(now.tv_sec) * 1'000'000u + std::uint64_t(now.tv_nsec) / 1'000u;
    ::sd_notifyf(0, "RELOADING=1\nMONOTONIC_USEC=%" PRIu64, usec);
}

void SystemdManager::stopping()
{
    ::sd_notify(0, "STOPPING=1");
}

RunSignals::RunSignals(ServiceManager &manager, std::function<void()> reload,
                       std::function<void()> stop, QObject *parent)
    : QObject(parent),
      m_manager(manager),
      m_reload(std::move(reload)),
      m_stop(std::move(stop)),
      m_signals(new UnixSignals(this))
{
    connect(m_signals, &UnixSignals::received, this, &RunSignals::handle);
}

void RunSignals::handle(int signalNumber)
{
    if (signalNumber == SIGHUP && m_reload) {
        m_reload();
        return;
    }
    m_manager.stopping();
    m_stop();
}
