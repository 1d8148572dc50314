// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "credentials.h"

#include "base/failure.h"
#include "selfsigned.h"

#include <QFile>
#include <QSslKey>

#include <memory>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace {

const QString CertName = QStringLiteral("tls-cert.pem");
const QString KeyName = QStringLiteral("tls-key.pem");

[[noreturn]] void refuseFile(const QString &path, const QString &why)
{
    Raise(TlsCredentialsError, TlsCredentialsText() + u' ' + path + QStringLiteral(": ") + why);
}

// The file's bytes, or a refusal with the system's reason.
QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        refuseFile(path, file.errorString());
    return file.readAll();
}

QList<QSslCertificate> readCertificates(const QString &path)
{
    const QList<QSslCertificate> found = QSslCertificate::fromData(readFile(path), QSsl::Pem);
    if (found.isEmpty())
        refuseFile(path, QStringLiteral("no PEM certificate can be read from it"));
    return found;
}

QSslKey readKey(const QString &path)
{
    const QByteArray pem = readFile(path);
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa, QSsl::Dsa}) {
        const QSslKey key(pem, algorithm);
        if (!key.isNull())
            return key;
    }
    refuseFile(path, QStringLiteral("no unencrypted PEM private key can be read from it"));
}

template<typename T, void (*Free)(T *)>
using Owned = std::unique_ptr<T, std::integral_constant<decltype(Free), Free>>;

// Whether key is the private half of the certificate's public key: a pair
// that does not match would let every handshake fail without a word.
bool belongTogether(const QSslCertificate &certificate, const QSslKey &key)
{
    const QByteArray certPem = certificate.toPem();
    const QByteArray keyPem = key.toPem();
    Owned<BIO, BIO_free_all> certBio(BIO_new_mem_buf(certPem.constData(), int(certPem.size())));
    Owned<BIO, BIO_free_all> keyBio(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())));
    Owned<X509, X509_free> x509(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    Owned<EVP_PKEY, EVP_PKEY_free> pkey(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    return x509 && pkey && X509_check_private_key(x509.get(), pkey.get()) == 1;
}

QString when(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss 'UTC'"));
}

} // namespace

QString TlsCredentialsText()
{
    return QStringLiteral("The TLS certificate or its key cannot be used.");
}

TlsSetup MakeTlsSetup(const TlsChoices &choices, bool server, TlsUsed *used)
{
    TlsUsed told;
    TlsSetup setup;
    QString certFile = choices.certFile;
    QString keyFile = choices.keyFile;
    if (server && certFile.isEmpty()) {
        // The folder's pair, made on first use.
        certFile = choices.folder + CertName;
        keyFile = choices.folder + KeyName;
        if (!QFile::exists(certFile) && !QFile::exists(keyFile)) {
            // Another copy starting at the same moment may have made them.
            QString error;
            if (MakeSelfSignedCertificate(certFile, keyFile, &error)) {
                told.madeCertFile = certFile;
                told.madeKeyFile = keyFile;
            } else if (!QFile::exists(keyFile))
                refuseFile(certFile, error);
        }
    }
    if (!certFile.isEmpty()) {
        const QString keyPath = keyFile.isEmpty() ? certFile : keyFile;
        setup.certificate = readCertificates(certFile).first();
        setup.key = readKey(keyPath);
        if (!belongTogether(setup.certificate, setup.key))
            refuseFile(keyPath,
                       QStringLiteral("the key does not belong to the certificate in ") + certFile);
        told.ownCertFile = certFile;
        told.own = setup.certificate;
    }
    if (!server) {
        if (!choices.caFile.isEmpty()) {
            setup.trusted = readCertificates(choices.caFile);
            told.caFile = choices.caFile;
        }
        setup.insecure = choices.insecure;
        told.insecure = choices.insecure;
    }
    if (used)
        *used = told;
    return setup;
}

QString CertificateNames(const QSslCertificate &certificate, bool issuer)
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

QString CertificateFingerprint(const QSslCertificate &certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

QStringList DescribeCertificate(const QSslCertificate &certificate)
{
    QStringList alternatives;
    const auto entries = certificate.subjectAlternativeNames();
    for (auto it = entries.cbegin(); it != entries.cend(); ++it)
        alternatives << (it.key() == QSsl::DnsEntry         ? QStringLiteral("DNS:")
                         : it.key() == QSsl::IpAddressEntry ? QStringLiteral("IP:")
                                                            : QStringLiteral("email:"))
                            + it.value();
    return {QStringLiteral("Certificate subject: ") + CertificateNames(certificate, false),
            QStringLiteral("Certificate issuer: ") + CertificateNames(certificate, true),
            QStringLiteral("Certificate valid from ") + when(certificate.effectiveDate())
                + QStringLiteral(" until ") + when(certificate.expiryDate()),
            QStringLiteral("Certificate alternative names: ")
                + (alternatives.isEmpty() ? QStringLiteral("none")
                                          : alternatives.join(QStringLiteral(", "))),
            QStringLiteral("Certificate SHA-256 fingerprint: ")
                + CertificateFingerprint(certificate)};
}
