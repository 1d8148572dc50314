#include "localaddress.h"

#include <QNetworkInterface>
#include <QRegularExpression>

QString PrimaryIPv4()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &nic : interfaces) {
        const auto flags = nic.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning)
            || (flags & QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = nic.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            const QString dotted = DottedIPv4(entry.ip());
            if (!dotted.isEmpty() && !entry.ip().isLoopback())
                return dotted;
        }
    }
    return QStringLiteral("127.0.0.1");
}

QString DottedIPv4(const QHostAddress &address)
{
    bool ok = false;
    const quint32 ip4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(ip4).toString() : QString();
}

bool ParseDottedIPv4(const QString &text, QHostAddress *address)
{
    // Four decimal octets only: shorter forms ("127.1") are left to the
    // name look-up, as the platform's resolver knows them.
    static const QRegularExpression dotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    if (!dotted.match(text.trimmed()).hasMatch())
        return false;
    QHostAddress parsed;
    if (!parsed.setAddress(text.trimmed()) || parsed.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    *address = parsed;
    return true;
}
