// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// TLS in the session: the files a connection needs (the trusted
// certificates and a client's own; a server's certificate and key, made on
// first use when the program folder holds none), and the handshake's
// outcome as "TLS" lines: what an administrator checks (version, cipher, the
// peer's certificate, the verification) or why it failed.  No line ever
// holds a private key.

#include "session.h"

#include "base/failure.h"
#include "socket/socketerrors.h"
#include "socket/winsock.h"
#include "tls/credentials.h"
#include "tls/tlsfacts.h"
#include "tls/tlssetup.h"

namespace {

const QString Speaker = QStringLiteral("TLS");

} // namespace

TlsSetup Session::tlsSetup(const Config &config, QStringList &lines)
{
    return MakeTlsSetup(config.tls, config.role == Role::Server, &lines);
}
void Session::Winsock1_TlsReport(const TlsFacts &facts)
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_TlsReport; "), [&] {
        QStringList lines;
        if (facts.established)
            lines << QStringLiteral("Handshake done: ") + facts.version
                         + QStringLiteral(", cipher ") + facts.cipher;
        if (!facts.peer.isNull())
            lines << DescribeCertificate(facts.peer);
        for (const QString &problem : facts.problems)
            lines << QStringLiteral("Certificate not verified: ") + problem;
        if (facts.established && m_config.role == Role::Client)
            lines << (facts.problemsAccepted
                          ? QStringLiteral("Going on without verification, as chosen (insecure)")
                          : QStringLiteral("Certificate verified: trusted issuer, valid dates, "
                                           "name ")
                                + Winsock1->RemoteHost().trimmed());
        if (!facts.failure.isEmpty() && !facts.problems.contains(facts.failure))
            lines << QStringLiteral("Failed: ") + facts.failure;
        for (const QString &line : lines)
            m_lines.AddToMsgsBox(Speaker, line + CRLF);
    });
}
