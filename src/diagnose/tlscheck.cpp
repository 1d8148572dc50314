// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The TLS handshake of a diagnosis: made with Qt's TLS socket in its
// blocking form (the diagnosis runs on a thread of its own), every
// certificate problem let through so that the handshake ends and each is
// named.

#include "diagnose.h"

#include "socket/localaddress.h"

#include <QSslCipher>
#include <QSslSocket>

void CheckTls(PathVerdict &verdict, const std::atomic<bool> &stop)
{
    QSslSocket socket;
    QHostAddress address;
    ParseAddress(verdict.address, &address);
    // A name is checked against the certificate; an address as it is.
    if (QHostAddress literal; !ParseAddress(verdict.host, &literal))
        socket.setPeerVerifyName(verdict.host);
    // Every problem is named and let through (in the handshake, directly).
    QObject::connect(
        &socket, &QSslSocket::sslErrors, &socket,
        [&](const QList<QSslError> &errors) {
            for (const QSslError &error : errors)
                verdict.tlsProblems.append(error.errorString());
            socket.ignoreSslErrors();
        },
        Qt::DirectConnection);
    socket.connectToHost(address, verdict.port);
    if (!socket.waitForConnected(verdict.timeoutMs)) {
        verdict.tlsFailure = socket.errorString();
        return;
    }
    if (stop)
        return;
    socket.startClientEncryption();
    if (!socket.waitForEncrypted(verdict.timeoutMs)) {
        verdict.tlsProblems.clear();
        verdict.tlsFailure = socket.errorString();
        return;
    }
    verdict.tlsDone = true;
    const QSslCipher cipher = socket.sessionCipher();
    verdict.tlsFacts = QStringLiteral("%1, cipher %2").arg(cipher.protocolString(), cipher.name());
    socket.disconnectFromHost();
}
