// SPDX-FileCopyrightText: 2026 The Selmarin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "environment.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(256 * 1024));
}

QString shortName(const QString &host)
{
    return host.section(u'.', 0, 0);
}

} // namespace

std::optional<QString> SystemEnvironment::variable(const QString &name) const
{
    const QByteArray key = name.toLocal8Bit();
    if (!qEnvironmentVariableIsSet(key.constData()))
        return std::nullopt;
    return qEnvironmentVariable(key.constData());
}

QString SystemEnvironment::hostName() const
{
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0)
        return {};
    return QString::fromLocal8Bit(buffer);
}

QString SystemEnvironment::localDomain() const
{
    const QString host = hostName();
    if (host.contains(u'.'))
        return host.section(u'.', 1);
    QString domain = DomainFromHosts(readSmallFile(QStringLiteral("/etc/hosts")), shortName(host));
    if (domain.isEmpty())
        domain = DomainFromResolvConf(readSmallFile(QStringLiteral("/etc/resolv.conf")));
    return domain;
}

QString SystemEnvironment::dataHome() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString DomainFromHosts(const QString &hostsText, const QString &shortName)
{
    if (shortName.isEmpty())
        return {};
    const QStringList lines = hostsText.split(u'\n');
    for (const QString &rawLine : lines) {
        const QString line = rawLine.section(u'#', 0, 0);
        const QStringList fields
            = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        if (fields.size() < 2)
            continue;
        const QStringList names = fields.mid(1);
        bool mentionsHost = false;
        for (const QString &name : names)
            mentionsHost = mentionsHost || name.compare(shortName, Qt::CaseInsensitive) == 0
                           || name.section(u'.', 0, 0).compare(shortName, Qt::CaseInsensitive) == 0;
        if (!mentionsHost)
            continue;
        for (const QString &name : names) {
            if (name.contains(u'.')
                && name.section(u'.', 0, 0).compare(shortName, Qt::CaseInsensitive) == 0)
                return name.section(u'.', 1);
        }
    }
    return {};
}

QString DomainFromResolvConf(const QString &resolvText)
{
    const QStringList lines = resolvText.split(u'\n');
    for (const QString &line : lines) {
        const QStringList fields = line.simplified().split(u' ', Qt::SkipEmptyParts);
        if (fields.size() >= 2 && fields[0] == QLatin1String("domain"))
            return fields[1];
    }
    return {};
}

QString ProgramFiles(const Environment &env)
{
    if (const auto value = env.variable(QStringLiteral("PROGRAMFILES")))
        return *value;
    return env.dataHome();
}

QString ComputerName(const Environment &env)
{
    if (const auto value = env.variable(QStringLiteral("COMPUTERNAME")))
        return *value;
    return shortName(env.hostName()).toUpper();
}

QString UserDnsDomain(const Environment &env)
{
    if (const auto value = env.variable(QStringLiteral("USERDNSDOMAIN")))
        return *value;
    QString domain = env.localDomain();
    if (domain.endsWith(u'.'))
        domain.chop(1);
    return domain.toUpper();
}

QString ProgramFolder(const Environment &env)
{
    const QString folder = ProgramFiles(env) + QStringLiteral("/Selmarin/");
    if (!env.variable(QStringLiteral("PROGRAMFILES")))
        QDir().mkpath(folder);
    return folder;
}

bool IsJournalStream(const Environment &env, int fd)
{
    const std::optional<QString> value = env.variable(QStringLiteral("JOURNAL_STREAM"));
    struct stat status = {};
    if (!value || ::fstat(fd, &status) != 0)
        return false;
    const QStringList parts = value->split(u':');
    bool deviceRead = false, inodeRead = false;
    return parts.size() == 2 && parts[0].toULongLong(&deviceRead) == quint64(status.st_dev)
           && parts[1].toULongLong(&inodeRead) == quint64(status.st_ino) && deviceRead && inodeRead;
}
