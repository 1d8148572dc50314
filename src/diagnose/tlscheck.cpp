// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The TLS handshake of a diagnosis: made with Qt's TLS socket in its
// blocking form (the diagnosis runs on a thread of its own) on the
// attempt's own connection, trusting what the user chose (the system's
// store, or --cacert), every certificate problem let through so that the
// handshake ends and each is named.

#include "diagnose.h"

#include "socket/localaddress.h"

#include <QSslCipher>
#include <QSslSocket>

#include <unistd.h>

void CheckTls(PathVerdict &verdict, int connected, const QHostAddress &source,
              const TlsSetup &setup, const std::atomic<bool> &stop)
{
    QSslSocket socket;
    QHostAddress address;
    ParseAddress(verdict.address, &address);
    // The name given is checked against the certificate; an address given
    // as it is (a connection handed over knows no name of its own).
    QHostAddress literal;
    SetUpTlsClient(socket, setup,
                   ParseAddress(verdict.host, &literal) ? verdict.address : verdict.host);
    verdict.tlsInsecure = setup.insecure;
    // Every problem is named and let through (in the handshake, directly):
    // the verdict tells them, and whether they were accepted.
    QObject::connect(
        &socket, &QSslSocket::sslErrors, &socket,
        [&](const QList<QSslError> &errors) {
            for (const QSslError &error : errors)
                verdict.tlsProblems.append(error.errorString());
            socket.ignoreSslErrors();
        },
        Qt::DirectConnection);
    // The connection the attempt made: a server that serves one client at a
    // time never answers a second one while the first is open.
    if (connected >= 0) {
        if (!socket.setSocketDescriptor(connected)) {
            ::close(connected);
            verdict.tlsFailure = socket.errorString();
            return;
        }
    } else {
        if (!source.isNull())
            socket.bind(source);
        socket.connectToHost(address, verdict.port);
        if (!socket.waitForConnected(verdict.timeoutMs)) {
            verdict.tlsFailure = socket.errorString();
            return;
        }
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
