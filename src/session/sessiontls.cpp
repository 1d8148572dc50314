// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// TLS in the session: the files a connection needs (the trusted
// certificates and a client's own; a server's certificate and key, made on
// first use when the program folder holds none), and the handshake's
// outcome as "TLS" lines: what an administrator checks (version, cipher, the
// peer's certificate, the verification) or why it failed.  No line ever
// holds a private key.

#include "session.h"

#include "base/failure.h"
#include "socket/selfsigned.h"
#include "socket/socketerrors.h"
#include "socket/tlsfacts.h"
#include "socket/tlssetup.h"
#include "socket/winsock.h"

#include <QFile>
#include <QSslKey>

namespace {

const QString Speaker = QStringLiteral("TLS");
const QString CertName = QStringLiteral("tls-cert.pem");
const QString KeyName = QStringLiteral("tls-key.pem");

[[noreturn]] void refuseFile(const QString &path, const QString &why)
{
    Raise(sck::TlsCredentials,
          SocketErrorText(sck::TlsCredentials) + u' ' + path + QStringLiteral(": ") + why);
}

QList<QSslCertificate> readCertificates(const QString &path)
{
    const QList<QSslCertificate> found = QSslCertificate::fromPath(path);
    if (found.isEmpty())
        refuseFile(path, QStringLiteral("no PEM certificate can be read from it"));
    return found;
}

QSslKey readKey(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuseFile(path, file.errorString());
    const QByteArray pem = file.readAll();
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa, QSsl::Dsa}) {
        const QSslKey key(pem, algorithm);
        if (!key.isNull())
            return key;
    }
    refuseFile(path, QStringLiteral("no unencrypted PEM private key can be read from it"));
}

QString names(const QSslCertificate &certificate, bool issuer)
{
    QStringList parts;
    for (const char *attribute : {"CN", "OU", "O", "L", "ST", "C"}) {
        const QByteArray name(attribute);
        for (const QString &value :
             issuer ? certificate.issuerInfo(name) : certificate.subjectInfo(name))
            parts << QString::fromLatin1(name) + u'=' + value;
    }
    return parts.join(QStringLiteral(", "));
}

QString when(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss 'UTC'"));
}

QString fingerprint(const QSslCertificate &certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

// The lines that describe a certificate.
QStringList describe(const QSslCertificate &certificate)
{
    QStringList alternatives;
    const auto entries = certificate.subjectAlternativeNames();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        alternatives << (it.key() == QSsl::DnsEntry         ? QStringLiteral("DNS:")
                         : it.key() == QSsl::IpAddressEntry ? QStringLiteral("IP:")
                                                            : QStringLiteral("email:"))
                            + it.value();
    return {QStringLiteral("Certificate subject: ") + names(certificate, false),
            QStringLiteral("Certificate issuer: ") + names(certificate, true),
            QStringLiteral("Certificate valid from ") + when(certificate.effectiveDate())
                + QStringLiteral(" until ") + when(certificate.expiryDate()),
            QStringLiteral("Certificate alternative names: ")
                + (alternatives.isEmpty() ? QStringLiteral("none")
                                          : alternatives.join(QStringLiteral(", "))),
            QStringLiteral("Certificate SHA-256 fingerprint: ") + fingerprint(certificate)};
}

} // namespace

TlsSetup Session::tlsSetup(const Config &config, QStringList &lines)
{
    const Tls &tls = config.tls;
    TlsSetup setup;
    QString certFile = tls.certFile;
    QString keyFile = tls.keyFile;
    if (config.role == Role::Server && certFile.isEmpty()) {
        // The folder's pair, made on first use.
        certFile = tls.folder + CertName;
        keyFile = tls.folder + KeyName;
        if (!QFile::exists(certFile) && !QFile::exists(keyFile)) {
            // Another copy starting at the same moment may have made them.
            QString error;
            if (MakeSelfSignedCertificate(certFile, keyFile, &error))
                lines << QStringLiteral("Made a self-signed certificate for this machine, valid "
                                        "for one year: ")
                             + certFile + QStringLiteral(" (its key, readable by its owner only: ")
                             + keyFile + u')';
            else if (!QFile::exists(keyFile))
                refuseFile(certFile, error);
        }
    }
    if (!certFile.isEmpty()) {
        setup.certificate = readCertificates(certFile).first();
        setup.key = readKey(keyFile.isEmpty() ? certFile : keyFile);
        lines << QStringLiteral("Own certificate ") + certFile + QStringLiteral(": ")
                     + names(setup.certificate, false)
              << QStringLiteral("Own certificate SHA-256 fingerprint: ")
                     + fingerprint(setup.certificate);
    }
    if (config.role == Role::Client) {
        if (!tls.caFile.isEmpty()) {
            setup.trusted = readCertificates(tls.caFile);
            lines << QStringLiteral("Trusting the certificates in ") + tls.caFile
                         + QStringLiteral(" instead of the system's");
        }
        setup.insecure = tls.insecure;
        if (tls.insecure)
            lines << QStringLiteral("Insecure: a certificate that does not verify is accepted "
                                    "for this connection");
    }
    return setup;
}

void Session::Winsock1_TlsReport(const TlsFacts &facts)
{
    Guard(m_lines, QStringLiteral(" in frmMain.Winsock1_TlsReport; "), [&] {
        QStringList lines;
        if (facts.established)
            lines << QStringLiteral("Handshake done: ") + facts.version
                         + QStringLiteral(", cipher ") + facts.cipher;
        if (!facts.peer.isNull())
            lines << describe(facts.peer);
        for (const QString &problem : facts.problems)
            lines << QStringLiteral("Certificate not verified: ") + problem;
        if (facts.established && m_config.role == Role::Client)
            lines << (facts.problemsAccepted
                          ? QStringLiteral("Going on without verification, as chosen (insecure)")
                          : QStringLiteral("Certificate verified: trusted issuer, valid dates, "
                                           "name ")
                                + Winsock1->RemoteHost().trimmed());
        if (!facts.failure.isEmpty() && !facts.problems.contains(facts.failure))
            lines << QStringLiteral("Failed: ") + facts.failure;
        for (const QString &line : lines)
            m_lines.AddToMsgsBox(Speaker, line + CRLF);
    });
}
