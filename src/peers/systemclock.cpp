// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "systemclock.h"

#include <sys/timex.h>

#include <ctime>

qint64 RealTimeNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

Stamp::ReflectorClock SystemClockState()
{
    timex state{};
    const int status = ::adjtimex(&state);
    const bool synchronized = status != -1 && status != TIME_ERROR && !(state.status & STA_UNSYNC);
    // Synchronized: the estimated error; else at least the largest it may be.
    const long errorUs = synchronized ? state.esterror : qMax(state.esterror, state.maxerror);
    Stamp::ReflectorClock clock;
    clock.estimate = EstimateOf(qint64(qMax(1L, errorUs)) * 1000, synchronized);
    clock.taiOffsetS = status == -1 ? 0 : state.tai;
    clock.source = synchronized ? Stamp::SyncSource::Ntp : Stamp::SyncSource::FreeRunning;
    return clock;
}
