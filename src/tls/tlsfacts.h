// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// What a TLS connection reports about its handshake: either how it was made
// (version, cipher, the peer's certificate and whether it verified) or why
// it failed.  Winsock delivers it with its TlsReport event; turning it into
// lines is the session's business.

#include <QSslCertificate>
#include <QString>
#include <QStringList>

struct TlsFacts
{
    bool established = false; // the handshake finished and the connection is encrypted
    QString version;          // "TLSv1.3"
    QString cipher;           // "TLS_AES_256_GCM_SHA384"
    QSslCertificate peer;     // null when the peer showed none
    // Why the peer's certificate did not verify, one reason each; empty when
    // it did (or, on a server, when none was asked for).
    QStringList problems;
    bool problemsAccepted = false; // the connection went on all the same (insecure)
    QString failure;               // what ended the handshake or the connection
    qint64 handshakeUs = -1;       // how long the handshake took (established); -1: not known
};
