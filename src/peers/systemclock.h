// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The system's real-time clock and its state, as both ends of the two-way
// measurement tell it in their error estimates.

#include "stamp/stampreply.h"

// The real-time clock now, in nanoseconds since 1970.
qint64 RealTimeNs();
// The system clock's state (adjtimex): synchronized or not, the estimated
// error, the TAI offset.
Stamp::ReflectorClock SystemClockState();
