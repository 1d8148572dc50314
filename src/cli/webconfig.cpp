// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "webconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <crypt.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <memory>
#include <yaml-cpp/yaml.h>

namespace {

// A fault of the file, where it is.
struct Fault
{
    YAML::Mark mark;
    QString what;
};

[[noreturn]] void fail(const YAML::Node &node, const QString &what)
{
    throw Fault{node.Mark(), what};
}

QString scalar(const YAML::Node &node, const QString &name)
{
    if (!node.IsScalar() || node.Scalar().empty())
        fail(node, QStringLiteral("%1 needs a value").arg(name));
    return QString::fromStdString(node.Scalar());
}

// A mapping with only these keys (or nothing at all).
void onlyKeys(const YAML::Node &map, const QString &name, const QStringList &keys)
{
    if (map.IsNull())
        return;
    if (!map.IsMap())
        fail(map, QStringLiteral("%1 must be a mapping").arg(name));
    for (const auto &item : map) {
        const QString key = scalar(item.first, QStringLiteral("a key"));
        if (!keys.contains(key))
            fail(item.first, QStringLiteral("unknown key \"%1\" in %2 (known: %3)")
                                 .arg(key, name, keys.join(QStringLiteral(", "))));
    }
}

QByteArray readFile(const QDir &base, const YAML::Node &node, const QString &key, QString *path)
{
    *path = QDir::cleanPath(base.absoluteFilePath(scalar(node, key)));
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        fail(node, QStringLiteral("cannot read the %1 %2: %3").arg(key, *path, file.errorString()));
    return file.readAll();
}

gnutls_datum_t datum(const QByteArray &bytes)
{
    return {reinterpret_cast<unsigned char *>(const_cast<char *>(bytes.constData())),
            unsigned(bytes.size())};
}

// The certificate, its key and the client CA, tried as the endpoint will
// use them, so that what the library would refuse is said here.
void checkTls(WebConfig &config, const YAML::Node &tls, const QString &keyFile)
{
    gnutls_x509_crt_t certificate = nullptr;
    gnutls_x509_crt_init(&certificate);
    const std::unique_ptr<gnutls_x509_crt_int, void (*)(gnutls_x509_crt_t)> heldCertificate(
        certificate, gnutls_x509_crt_deinit);
    const gnutls_datum_t cert = datum(config.certPem), key = datum(config.keyPem),
                         ca = datum(config.clientCaPem);
    if (const int error = gnutls_x509_crt_import(certificate, &cert, GNUTLS_X509_FMT_PEM);
        error < 0)
        fail(tls["cert_file"],
             QStringLiteral("the cert_file %1 holds no PEM certificate: %2")
                 .arg(config.certFile, QString::fromUtf8(gnutls_strerror(error))));
    config.certExpiry = QDateTime::fromSecsSinceEpoch(
        qint64(gnutls_x509_crt_get_expiration_time(certificate)), Qt::UTC);
    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_certificate_allocate_credentials(&credentials);
    const std::unique_ptr<gnutls_certificate_credentials_st,
                          void (*)(gnutls_certificate_credentials_t)>
        heldCredentials(credentials, gnutls_certificate_free_credentials);
    if (const int error = gnutls_certificate_set_x509_key_mem2(credentials, &cert, &key,
                                                               GNUTLS_X509_FMT_PEM, nullptr, 0);
        error < 0)
        fail(tls["key_file"],
             QStringLiteral("the key_file %1 cannot be used with the cert_file %2: %3")
                 .arg(keyFile, config.certFile, QString::fromUtf8(gnutls_strerror(error))));
    if (!config.clientCaPem.isEmpty()
        && gnutls_certificate_set_x509_trust_mem(credentials, &ca, GNUTLS_X509_FMT_PEM) <= 0)
        fail(tls["client_ca_file"], QStringLiteral("the client_ca_file holds no PEM certificate"));
}

void readTls(WebConfig &config, const QDir &base, const YAML::Node &tls)
{
    onlyKeys(tls, QStringLiteral("tls_server_config"),
             {QStringLiteral("cert_file"), QStringLiteral("key_file"),
              QStringLiteral("client_ca_file"), QStringLiteral("client_auth_type"),
              QStringLiteral("min_version")});
    if (!tls["cert_file"] || !tls["key_file"])
        fail(tls, QStringLiteral("tls_server_config needs cert_file and key_file"));
    QString keyFile, caFile;
    config.certPem
        = readFile(base, tls["cert_file"], QStringLiteral("cert_file"), &config.certFile);
    config.keyPem = readFile(base, tls["key_file"], QStringLiteral("key_file"), &keyFile);
    const QString policy = tls["client_auth_type"]
                               ? scalar(tls["client_auth_type"], QStringLiteral("client_auth_type"))
                               : QStringLiteral("NoClientCert");
    const QStringList policies
        = {QStringLiteral("NoClientCert"), QStringLiteral("VerifyClientCertIfGiven"),
           QStringLiteral("RequireAndVerifyClientCert")};
    if (!policies.contains(policy))
        fail(tls["client_auth_type"], QStringLiteral("client_auth_type must be one of %1, not %2")
                                          .arg(policies.join(QStringLiteral(", ")), policy));
    if (tls["client_ca_file"])
        config.clientCaPem
            = readFile(base, tls["client_ca_file"], QStringLiteral("client_ca_file"), &caFile);
    if (config.clientCaPem.isEmpty() != (policy == policies.first()))
        fail(tls, QStringLiteral("client_ca_file and a client_auth_type other than NoClientCert "
                                 "go together"));
    config.requireClient = policy == policies.last();
    if (tls["min_version"]) {
        const QString version = scalar(tls["min_version"], QStringLiteral("min_version"));
        if (version != QLatin1String("TLS12") && version != QLatin1String("TLS13"))
            fail(tls["min_version"],
                 QStringLiteral("min_version must be TLS12 or TLS13, not %1").arg(version));
        config.tls13Only = version == QLatin1String("TLS13");
    }
    checkTls(config, tls, keyFile);
}

void readUsers(WebConfig &config, const YAML::Node &users)
{
    if (users.IsNull())
        return;
    if (!users.IsMap())
        fail(users, QStringLiteral("basic_auth_users must be a mapping of user: bcrypt hash"));
    static const QRegularExpression bcrypt(
        QStringLiteral("^\\$2[aby]\\$(0[4-9]|[12][0-9]|3[01])\\$[./A-Za-z0-9]{53}$"));
    for (const auto &item : users) {
        const QString user = scalar(item.first, QStringLiteral("a user"));
        if (user.contains(u':'))
            fail(item.first, QStringLiteral("the user \"%1\" has a colon in its name").arg(user));
        const QString hash
            = item.second.IsScalar() ? QString::fromStdString(item.second.Scalar()) : QString();
        if (!bcrypt.match(hash).hasMatch())
            fail(item.second,
                 QStringLiteral("the password hash of \"%1\" is not a bcrypt hash ($2b$, $2y$ "
                                "or $2a$, a cost from 04 to 31)")
                     .arg(user));
        config.users[user.toUtf8()] = hash.toLatin1();
    }
}

} // namespace

bool ReadWebConfig(const QString &path, WebConfig *config, QString *why)
{
    WebConfig read;
    read.file = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("Cannot read the web configuration %1: %2.")
                   .arg(path, file.errorString());
        return false;
    }
    try {
        const YAML::Node root = YAML::Load(file.readAll().toStdString());
        onlyKeys(root, QStringLiteral("the web configuration"),
                 {QStringLiteral("tls_server_config"), QStringLiteral("basic_auth_users")});
        if (root.IsMap() && root["tls_server_config"])
            readTls(read, QFileInfo(path).absoluteDir(), root["tls_server_config"]);
        if (root.IsMap() && root["basic_auth_users"])
            readUsers(read, root["basic_auth_users"]);
    } catch (const YAML::Exception &error) {
        *why = QStringLiteral("%1:%2:%3: %4.")
                   .arg(path)
                   .arg(error.mark.line + 1)
                   .arg(error.mark.column + 1)
                   .arg(QString::fromStdString(error.msg));
        return false;
    } catch (const Fault &fault) {
        *why = QStringLiteral("%1:%2:%3: %4.")
                   .arg(path)
                   .arg(fault.mark.line + 1)
                   .arg(fault.mark.column + 1)
                   .arg(fault.what);
        return false;
    }
    *config = std::move(read);
    return true;
}

bool PasswordMatches(const QByteArray &password, const QByteArray &hash)
{
    // crypt reads up to a NUL: a password with one would match its prefix.
    if (password.contains('\0'))
        return false;
    const auto data = std::make_unique<crypt_data>();
    const char *made = crypt_rn(password.constData(), hash.constData(), data.get(), sizeof *data);
    const QByteArray got = made ? QByteArray(made) : QByteArray();
    if (got.size() != hash.size())
        return false;
    unsigned char differs = 0;
    for (qsizetype i = 0; i < got.size(); ++i)
        differs |= static_cast<unsigned char>(got[i] ^ hash[i]);
    return differs == 0;
}
