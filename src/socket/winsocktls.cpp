// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Winsock over TLS: the stream is a QSslSocket.  The client starts its
// handshake once TCP is connected; an accepted connection's handshake was
// started by the Listener.  Certificate faults are collected as Qt reports
// them (sslErrors comes from inside the handshake, before it fails), so the
// report names every reason, and an insecure client ignores them there and
// goes on.  A handshake that has not finished after TlsHandshakeMs is given
// up: a peer that never speaks TLS must not hold the connection.

#include "base/clock.h"
#include "socketerrors.h"
#include "winsockprivate.h"

#include <QSslCipher>
#include <QSslSocket>

#include <utility>

void Winsock::setTls(const TlsSetup &setup)
{
    d->tlsSetup = setup;
}

QSslSocket *WinsockPrivate::ssl() const
{
    return protocol == Winsock::sckTLSProtocol ? qobject_cast<QSslSocket *>(tcp) : nullptr;
}

void WinsockPrivate::wireTls(QSslSocket *socket)
{
    tlsProblems.clear();
    tlsToldDone = false;
    QObject::connect(socket, &QSslSocket::encrypted, q, [this] { onEncrypted(); });
    QObject::connect(socket, &QSslSocket::sslErrors, q,
                     [this](const QList<QSslError> &errors) { onSslErrors(errors); });
}

void WinsockPrivate::startClientTls()
{
    QSslSocket *socket = ssl();
    SetUpTlsClient(*socket, tlsSetup,
                   tlsSetup.peerName.isEmpty() ? remoteHost.trimmed() : tlsSetup.peerName);
    handshakeTimer.start(Winsock::TlsHandshakeMs);
    handshakeStartUs = MonotonicUs();
    socket->startClientEncryption();
    // The hello goes out now, not after a turn of Qt's and one of the tap's.
    if (tap) {
        socket->flush();
        tap->pump();
    }
}

void WinsockPrivate::onSslErrors(const QList<QSslError> &errors)
{
    for (const QSslError &error : errors)
        if (!tlsProblems.contains(error.errorString()))
            tlsProblems.append(error.errorString());
    if (tlsSetup.insecure && ssl())
        ssl()->ignoreSslErrors();
}

TlsFacts WinsockPrivate::currentFacts() const
{
    TlsFacts facts;
    if (QSslSocket *socket = ssl()) {
        facts.version = socket->sessionCipher().protocolString();
        facts.cipher = socket->sessionCipher().name();
        facts.peer = socket->peerCertificate();
    }
    facts.problems = tlsProblems;
    return facts;
}

void WinsockPrivate::onEncrypted()
{
    if (state != SocketState::Connected)
        return;
    handshakeTimer.stop();
    TlsFacts facts = currentFacts();
    facts.established = true;
    tlsToldDone = true;
    if (handshakeStartUs > 0)
        facts.handshakeUs = MonotonicUs() - handshakeStartUs;
    facts.problemsAccepted = !facts.problems.isEmpty();
    post({EventKind::TlsReport, 0, 0, std::make_shared<const TlsFacts>(std::move(facts))});
    pullStream(false); // what came with the handshake's end
    if (!tlsOutbox.isEmpty())
        tcp->write(std::exchange(tlsOutbox, {}));
}

void WinsockPrivate::tlsFail(int number, const QString &reason)
{
    if (state != SocketState::Connected)
        return;
    TlsFacts facts = currentFacts();
    facts.failure = reason;
    // After a handshake that was told done (TLS 1.3: a server that asks for
    // a certificate says so only then), its certificate was told with it.
    if (tlsToldDone)
        facts.peer = QSslCertificate();
    // Unverified certificate faults are the reason the handshake ended.
    if (number == sck::TlsHandshakeFailed && !facts.problems.isEmpty())
        number = sck::TlsCertificateRefused;
    post({EventKind::TlsReport, 0, 0, std::make_shared<const TlsFacts>(std::move(facts))});
    fail(NetFailure::Step::Tls, number);
}
