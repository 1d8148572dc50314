// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// Why a socket failed, as one value.  The socket makes it once, where the
// system tells it of the failure (socket/winsock.h: LastFailure), and
// everything said about the failure is a function of it: its sentence and
// its reason word (socket/socketerrors.h), what it tells of the path
// (the diagnosis' class, diagnose/failureverdict.h) and the window's
// Diagnosis line made of that.

#include "icmpseen.h"

struct NetFailure
{
    // What failed.
    enum class Step {
        Lookup,   // the host's name gave no address
        Connect,  // a connection attempt (TCP, or the TCP under TLS)
        Stream,   // a connection that was made
        Tls,      // the TLS handshake, or the secure connection after it
        Datagram, // a UDP datagram, sent or received
    };
    Step what = Step::Connect;
    int number = 0;     // the failure number the window shows (10061, 40031 ...)
    int error = 0;      // the system's error number (errno) behind it; 0: none told
    IcmpSeen icmp = {}; // what a router or the host said about it, when anything did
};
