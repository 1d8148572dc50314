// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// What a TLS connection is told before it starts: whom it trusts and what it
// shows of itself.  A client checks the server's certificate against the
// trusted certificates and the remote host as it was given (also sent as the
// server name, unless it is a literal address); a server shows its
// certificate and proves it holds the key.

#include <QList>
#include <QSslCertificate>
#include <QSslCipher>
#include <QSslKey>

class QSslSocket;

struct TlsSetup
{
    // Client: a certificate that does not verify is accepted and the
    // connection goes on (its faults are still reported).
    bool insecure = false;
    // Client: the certificates trusted instead of the system's store; empty:
    // the system's store.
    QList<QSslCertificate> trusted;
    // Client: the name the server's certificate must carry (and the server
    // name sent); empty: the remote host as it was given.  For a connection
    // made to an address looked up before.
    QString peerName;
    // Its own certificate and key: a server's (needed), a client's (optional).
    QSslCertificate certificate;
    QSslKey key;
};

// A client's socket told what setup says before its handshake: whom it
// trusts, its own certificate when it has one, that the server's
// certificate is verified, and against peerName (an IPv6 literal's brackets
// taken off; a literal address is never sent as the server name, Qt leaves
// it out).  Whether faults are let through (insecure) is the caller's.
void SetUpTlsClient(QSslSocket &socket, const TlsSetup &setup, QString peerName);
// A server's socket told what setup says before its handshake: its
// certificate and key, no client certificate asked for, TLS 1.2 and 1.3
// only, and of TLS 1.2's suites only those with forward secrecy (ECDHE) and
// authenticated encryption (AES-GCM, ChaCha20-Poly1305): no CBC suite, so
// no padding oracle.  TLS 1.3's suites are all of that kind.
void SetUpTlsServer(QSslSocket &socket, const TlsSetup &setup);
// The suites a server offers, of those the TLS library has.
QList<QSslCipher> TlsServerCiphers();
