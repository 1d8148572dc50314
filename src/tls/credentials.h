// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// The one place a TLS connection's credentials are made from the user's
// choices: the certificates a client trusts (the system's, or those of a
// file), the certificate and key an end shows (a server's from the program
// folder, made self-signed on first use, or from files), and what the lines
// say about them.  Every connection of the program, the window's, the
// responder's and each probe's, is set up here.
//
// A file that cannot be used is refused with the reason: the system's (no
// such file, permission denied), no certificate or key in it, or a key that
// does not belong to the certificate.

#include "tlssetup.h"

#include <QSslCertificate>
#include <QString>
#include <QStringList>

// The failure number of credentials that cannot be used, raised as a
// RuntimeError whose description names the file and the reason.
inline constexpr int TlsCredentialsError = 40034;
QString TlsCredentialsText();

// What the user chose.  File names are paths; empty ones are not used.
struct TlsChoices
{
    bool insecure = false; // client: go on with a certificate that does not verify
    QString caFile;        // client: trust these certificates, not the system's
    QString certFile;      // its own certificate: a server's (instead of the
    QString keyFile;       // folder's), or a client's to show the server
    QString folder;        // the program folder: the server's tls-cert.pem and tls-key.pem
};

// What a connection's credentials were made of, to be told before it starts.
struct TlsUsed
{
    QString madeCertFile; // a self-signed certificate made now for this machine
    QString madeKeyFile;  // ... and its key
    QString ownCertFile;  // the certificate it shows, from this file
    QSslCertificate own;
    QString caFile;        // a client trusts the certificates in this file, not the system's
    bool insecure = false; // a client accepts a certificate that does not verify
    bool any() const
    {
        return !madeCertFile.isEmpty() || !ownCertFile.isEmpty() || !caFile.isEmpty() || insecure;
    }
};

// The setup of a server's or a client's connections; used (when given)
// receives what they use.  Raises TlsCredentialsError.
TlsSetup MakeTlsSetup(const TlsChoices &choices, bool server, TlsUsed *used = nullptr);

// A certificate's subject or issuer ("CN=localhost, O=Example"), its
// fingerprint (SHA-256, "A2:2F:..."), and the lines that describe it
// (subject, issuer, validity, alternative names, fingerprint).
QString CertificateNames(const QSslCertificate &certificate, bool issuer);
QString CertificateFingerprint(const QSslCertificate &certificate);
QStringList DescribeCertificate(const QSslCertificate &certificate);
