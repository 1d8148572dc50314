// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tlssetup.h"

#include <QRegularExpression>
#include <QSslConfiguration>
#include <QSslSocket>

void SetUpTlsClient(QSslSocket &socket, const TlsSetup &setup, QString peerName)
{
    QSslConfiguration config = socket.sslConfiguration();
    if (!setup.trusted.isEmpty())
        config.setCaCertificates(setup.trusted);
    if (!setup.certificate.isNull()) {
        config.setLocalCertificate(setup.certificate);
        config.setPrivateKey(setup.key);
    }
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    socket.setSslConfiguration(config);
    if (peerName.startsWith(u'[') && peerName.endsWith(u']'))
        peerName = peerName.mid(1, peerName.size() - 2);
    socket.setPeerVerifyName(peerName);
}

QList<QSslCipher> TlsServerCiphers()
{
    static const QRegularExpression aead(QStringLiteral(
        "^(TLS_.*|ECDHE-(RSA|ECDSA)-(AES(128|256)-GCM-SHA(256|384)|CHACHA20-POLY1305))$"));
    QList<QSslCipher> ciphers;
    for (const QSslCipher &cipher : QSslConfiguration::supportedCiphers())
        if (aead.match(cipher.name()).hasMatch())
            ciphers.append(cipher);
    return ciphers;
}

void SetUpTlsServer(QSslSocket &socket, const TlsSetup &setup)
{
    static const QList<QSslCipher> ciphers = TlsServerCiphers();
    QSslConfiguration config = socket.sslConfiguration();
    config.setLocalCertificate(setup.certificate);
    config.setPrivateKey(setup.key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    config.setProtocol(QSsl::TlsV1_2OrLater);
    config.setCiphers(ciphers);
    socket.setSslConfiguration(config);
}
