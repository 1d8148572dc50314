// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tlssetup.h"

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
