// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once
// A TLS server's own certificate, made on this machine when the user gave
// none: self-signed, an EC P-256 key, valid for one year from now, with the
// machine's names ("localhost" among them) and every one of its addresses
// as alternative names.

#include <QString>

// Writes the certificate (PEM) to certPath and its key (PEM) to keyPath.
// The key file is made readable and writable by its owner only before any
// byte of the key is written, and is never replaced: when it exists the
// answer is false.  On failure the answer is false and error says why.
bool MakeSelfSignedCertificate(const QString &certPath, const QString &keyPath, QString *error);
