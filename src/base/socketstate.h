// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The states a test's socket goes through, by their codes: the vocabulary the
// socket reports in, the session watches and the faces show.  The display
// name of a state is entry code + 1 of the States name table
// (nametables.h), and the display groups the states as the controls show
// them: idle (nothing open, the user may choose again), ready (data can
// flow) and busy (on the way, or on the way out).

#include <QtGlobal>

enum class SocketState : qint16 {
    Closed = 0,
    Open = 1,
    Listening = 2,
    ConnectionPending = 3,
    ResolvingHost = 4,
    HostResolved = 5,
    Connecting = 6,
    Connected = 7,
    Closing = 8, // the peer closed; the socket is not closed yet
    Error = 9,
};

enum class StateGroup { Idle, Ready, Busy };

constexpr StateGroup GroupOf(SocketState state)
{
    switch (state) {
    case SocketState::Closed:
    case SocketState::Error: return StateGroup::Idle;
    case SocketState::Open:
    case SocketState::Connected: return StateGroup::Ready;
    default: return StateGroup::Busy;
    }
}

constexpr int StateCode(SocketState state)
{
    return int(state);
}
