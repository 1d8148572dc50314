// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Tells a reset connection from one the peer closed in order.
//
// Qt reports both as RemoteHostClosedError and closes its descriptor at
// once.  The probe holds a duplicate of the connection's descriptor, so the
// kernel socket outlives Qt's descriptor; when Qt reports the close, the TCP
// state of the duplicate says what happened: CLOSE_WAIT after the peer's FIN,
// CLOSE after a reset.  While the duplicate is open the kernel socket is not
// closed, so release() must be called when the connection is given up (it is
// the close of the duplicate that lets our FIN go out once Qt's descriptor is
// gone too).

#include <QtGlobal>

class CloseProbe
{
public:
    CloseProbe() = default;
    CloseProbe(const CloseProbe &) = delete;
    CloseProbe &operator=(const CloseProbe &) = delete;
    ~CloseProbe() { release(); }

    void attach(qintptr descriptor);
    bool wasReset() const; // false when unknown
    void release();

private:
    int m_fd = -1;
};
