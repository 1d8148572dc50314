// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// TLS in the session: the credentials a connection is set up with
// (tls/credentials.h), and the handshake's outcome told as it came.

#include "session.h"

#include "socket/winsock.h"
#include "tls/tlsfacts.h"
#include "tls/tlssetup.h"

TlsSetup Session::tlsSetup(const Config &config, TlsUsed &used)
{
    return MakeTlsSetup(config.tls, config.role == Role::Server, &used);
}

void Session::Winsock1_TlsReport(const TlsFacts &facts)
{
    guard(Procedure::TlsReport, [&] {
        emit tlsReported(facts, m_config.role == Role::Client ? Winsock1->RemoteHost().trimmed()
                                                              : QString());
    });
}
