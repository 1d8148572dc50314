// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// What locks the metrics endpoint (--web-config FILE): a YAML file in the
// web-configuration format scrapers' exporters read,
//
//   tls_server_config:
//     cert_file: server.crt          # PEM; relative paths: to this file
//     key_file: server.key
//     client_ca_file: ca.crt         # optional
//     client_auth_type: RequireAndVerifyClientCert  # or VerifyClientCertIfGiven,
//                                    # NoClientCert (the default)
//     min_version: TLS12             # or TLS13
//   basic_auth_users:
//     alice: $2y$10$...              # a bcrypt hash
//
// read once, before the endpoint starts.  Every fault is refused with the
// file (and the line and column) and what is wrong: an unknown key, a file
// that cannot be read or holds no certificate or key, a key that does not
// belong to the certificate, a hash that is not bcrypt.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <map>

struct WebConfig
{
    QString file;       // the web configuration; empty: none (plain HTTP, anyone)
    QString certFile;   // the endpoint's certificate (TLS when not empty)
    QByteArray certPem; // its PEM text, and the key's
    QByteArray keyPem;
    QByteArray clientCaPem;                 // the client CA's certificates (empty: none asked for)
    bool requireClient = false;             // a client without a certificate is refused
    QDateTime certExpiry;                   // the certificate's end (UTC)
    bool tls13Only = false;                 // min_version: TLS13
    std::map<QByteArray, QByteArray> users; // user -> bcrypt hash; empty: no password asked

    bool tls() const { return !certPem.isEmpty(); }
    bool operator==(const WebConfig &) const = default;
};

// Reads path into config; false, with why (naming the file), when it cannot.
bool ReadWebConfig(const QString &path, WebConfig *config, QString *why);

// Whether password matches the bcrypt hash, the two compared in constant
// time.  Takes as long as the hash's cost says (milliseconds): not for the
// event loop.
bool PasswordMatches(const QByteArray &password, const QByteArray &hash);
