// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "selfsigned.h"

#include <QFile>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <unistd.h>

namespace {

constexpr long ValidDays = 365;

template<typename T, void (*Free)(T *)>
using Owned = std::unique_ptr<T, std::integral_constant<decltype(Free), Free>>;

QString lastOpenSslError()
{
    const unsigned long code = ERR_get_error();
    char text[256] = {};
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

// "DNS:name,...,IP:address,..." for the machine.
QString alternativeNames(QString *commonName)
{
    QStringList names{QHostInfo::localHostName()};
    if (const QString domain = QHostInfo::localDomainName(); !domain.isEmpty())
        names << names.first() + u'.' + domain;
    names << QStringLiteral("localhost");
    names.removeDuplicates();
    *commonName = names.first();
    QStringList entries;
    for (const QString &name : names)
        entries << QStringLiteral("DNS:") + name;
    for (QHostAddress address : QNetworkInterface::allAddresses()) {
        address.setScopeId({});
        entries << QStringLiteral("IP:") + address.toString();
    }
    entries.removeDuplicates();
    return entries.join(u',');
}

bool addExtension(X509 *certificate, int nid, const QString &value)
{
    X509V3_CTX context;
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    Owned<X509_EXTENSION, X509_EXTENSION_free> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value.toLatin1().constData()));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

QByteArray pemOf(const std::function<int(BIO *)> &write)
{
    Owned<BIO, BIO_free_all> bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1)
        return {};
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(size));
}

} // namespace

bool MakeSelfSignedCertificate(const QString &certPath, const QString &keyPath, QString *error)
{
    Owned<EVP_PKEY, EVP_PKEY_free> key(EVP_EC_gen("P-256"));
    Owned<X509, X509_free> certificate(X509_new());
    Owned<BIGNUM, BN_free> serial(BN_new());
    QString commonName;
    const QString names = alternativeNames(&commonName);
    bool made = key && certificate && serial && X509_set_version(certificate.get(), 2) == 1
                && BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1
                && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get()))
                && X509_gmtime_adj(X509_getm_notBefore(certificate.get()), 0)
                && X509_gmtime_adj(X509_getm_notAfter(certificate.get()), ValidDays * 86400)
                && X509_set_pubkey(certificate.get(), key.get()) == 1;
    if (made) {
        X509_NAME *subject = X509_get_subject_name(certificate.get());
        const QByteArray cn = commonName.toUtf8();
        made
            = X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char *>(cn.constData()),
                                         -1, -1, 0)
                  == 1
              && X509_set_issuer_name(certificate.get(), subject) == 1
              && addExtension(certificate.get(), NID_subject_alt_name, names)
              && addExtension(certificate.get(), NID_basic_constraints,
                              QStringLiteral("critical,CA:FALSE"))
              && addExtension(certificate.get(), NID_key_usage,
                              QStringLiteral("critical,digitalSignature"))
              && addExtension(certificate.get(), NID_ext_key_usage,
                              QStringLiteral("serverAuth,clientAuth"))
              && addExtension(certificate.get(), NID_subject_key_identifier, QStringLiteral("hash"))
              && X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
    }
    if (!made) {
        *error = QStringLiteral("cannot make a certificate: ") + lastOpenSslError();
        return false;
    }

    // The key's file exists with the owner's rights only before the key goes in.
    const int fd = ::open(QFile::encodeName(keyPath).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QStringLiteral("cannot make ") + keyPath + QStringLiteral(": ")
                 + QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    QByteArray keyPem = pemOf([&](BIO *bio) {
        return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    const bool keyWritten
        = !keyPem.isEmpty()
          && ::write(fd, keyPem.constData(), size_t(keyPem.size())) == keyPem.size();
    OPENSSL_cleanse(keyPem.data(), size_t(keyPem.size()));
    ::close(fd);
    QFile file(certPath);
    const QByteArray certPem
        = pemOf([&](BIO *bio) { return PEM_write_bio_X509(bio, certificate.get()); });
    if (!keyWritten || certPem.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(certPem) != certPem.size()) {
        *error = QStringLiteral("cannot write ") + (keyWritten ? certPath : keyPath);
        QFile::remove(keyPath);
        return false;
    }
    return true;
}
