// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Walks over the server list, the file's Server elements and the editor's
// entries count with 16-bit signed positions, so the list is made for fewer
// than 32,767 entries.  A walk that has to step past position 32,767 stops
// with run-time error 6 "Overflow"; whatever it did before the stop stays
// done.
//
// Searches use hash lookups instead of a position-by-position scan; these two
// calls make them fail exactly where the scan would:
//   found at position p      -> WalkTo(p)
//   not found among 1..last  -> WalkThrough(last)
// and a plain walk calls WalkTo(i) before each step and WalkThrough(last)
// after the last one.

#include "base/failure.h"

#include <QtGlobal>

inline constexpr qsizetype WalkLimit = 32767;

// The counter has to hold position (1-based).
inline void WalkTo(qsizetype position)
{
    if (position > WalkLimit)
        Raise(rt::Overflow);
}

// A walk over 1..last ran to its end: its counter steps to last + 1.
inline void WalkThrough(qsizetype last)
{
    if (last >= WalkLimit)
        Raise(rt::Overflow);
}
